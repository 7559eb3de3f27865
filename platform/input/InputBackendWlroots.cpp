#include "platform/input/InputBackendWlroots.h"

#include "platform/input/InputBackendStatus.h"
#include "platform/input/InputDecoding.h"
#include "platform/input/KeymapKeys.h"
#include "platform/input/Keysyms.h"

#include <QDebug>
#include <QGuiApplication>
#include <QHash>
#include <QScreen>
#include <QSet>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <deque>
#include <functional>
#include <string>

#include <linux/input-event-codes.h>
#include <sys/mman.h>
#include <unistd.h>

#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

namespace {

// Scroll distance of one wheel step, as libinput reports a mouse wheel.
constexpr int kWheelStepDistance = 15;
// The typing keymap goes back to the user's layout once typing has been idle this long.
constexpr int kRestoreLayoutDelayMs = 1000;
// Keycodes of the typing keymap: xkb keycodes 9..255 (evdev 1..247).
constexpr int kFirstTypingKeycode = 9;
constexpr int kTypingSlots = 255 - kFirstTypingKeycode + 1;
// wl_fixed_t holds 24 integer bits.
constexpr int kMaxRelativeMotion = (1 << 23) - 1;
// Batches kept while the compositor does not read; beyond this, moves are dropped first.
constexpr size_t kMaxBacklog = 4096;
// The name our typing keymap's sections carry, to know it when the compositor hands it back.
constexpr char kTypingKeymapMark[] = "xkb_keycodes \"velmora\"";

quint32 nowMs()
{
    return quint32(std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now().time_since_epoch())
                       .count());
}

// Keymaps travel as shared memory; the compositor maps the file and reads the text.
int keymapFile(const std::string& text, quint32* size)
{
    const int fd = memfd_create("velmora-keymap", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0)
        return -1;
    *size = quint32(text.size() + 1); // the terminating NUL is part of the keymap
    const char* p = text.c_str();
    size_t left = *size;
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ::close(fd);
            return -1;
        }
        p += n;
        left -= size_t(n);
    }
    return fd;
}

// A batch that only moves the pointer may give way when the backlog is full.
bool onlyMoves(const QVector<InputRecord>& batch)
{
    for (const InputRecord& r : batch) {
        if (r.type != InputRecord::Mouse ||
            (r.flags & ~(InputRecord::MouseMove | InputRecord::Absolute)) != 0)
            return false;
    }
    return true;
}

struct KeymapDeleter
{
    void operator()(xkb_keymap* k) const { xkb_keymap_unref(k); }
};
struct StateDeleter
{
    void operator()(xkb_state* s) const { xkb_state_unref(s); }
};
using KeymapPtr = std::unique_ptr<xkb_keymap, KeymapDeleter>;
using StatePtr = std::unique_ptr<xkb_state, StateDeleter>;

// What a registry round trip found.
struct Registry
{
    wl_seat* seat = nullptr;
    wl_output* output = nullptr;
    zwlr_virtual_pointer_manager_v1* pointerManager = nullptr;
    quint32 pointerManagerVersion = 0;
    zwp_virtual_keyboard_manager_v1* keyboardManager = nullptr;
    // Only names are wanted (probing binds nothing).
    bool bind = true;
    bool sawPointerManager = false;
    bool sawKeyboardManager = false;

    static void global(void* data, wl_registry* registry, quint32 name, const char* interface,
                       quint32 version)
    {
        auto* r = static_cast<Registry*>(data);
        if (std::strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0) {
            r->sawPointerManager = true;
            if (r->bind && r->pointerManager == nullptr) {
                r->pointerManagerVersion = std::min<quint32>(version, 2);
                r->pointerManager = static_cast<zwlr_virtual_pointer_manager_v1*>(wl_registry_bind(
                    registry, name, &zwlr_virtual_pointer_manager_v1_interface, r->pointerManagerVersion));
            }
        } else if (std::strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0) {
            r->sawKeyboardManager = true;
            if (r->bind && r->keyboardManager == nullptr)
                r->keyboardManager = static_cast<zwp_virtual_keyboard_manager_v1*>(
                    wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1));
        } else if (r->bind && std::strcmp(interface, wl_seat_interface.name) == 0 && r->seat == nullptr) {
            r->seat = static_cast<wl_seat*>(
                wl_registry_bind(registry, name, &wl_seat_interface, std::min<quint32>(version, 5)));
        } else if (r->bind && std::strcmp(interface, wl_output_interface.name) == 0 && r->output == nullptr) {
            // The first output announced stands for the primary one.
            r->output = static_cast<wl_output*>(
                wl_registry_bind(registry, name, &wl_output_interface, std::min<quint32>(version, 2)));
        }
    }
    static void globalRemove(void*, wl_registry*, quint32) {}
};

const wl_registry_listener kRegistryListener = {Registry::global, Registry::globalRemove};

} // namespace

struct InputBackendWlroots::Private
{
    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    Registry globals;
    zwlr_virtual_pointer_v1* pointer = nullptr;
    zwp_virtual_keyboard_v1* keyboard = nullptr;
    std::unique_ptr<QSocketNotifier> notifier;
    std::unique_ptr<QSocketNotifier> writeNotifier;
    bool broken = false;
    bool opened = false;
    // The compositor stopped reading: requests wait in `backlog` until the socket drains,
    // since libwayland's own buffer is small and overflowing it ends the connection.
    bool congested = false;
    bool stalled = false; // from the first congestion until everything went out
    std::deque<QVector<InputRecord>> backlog;
    quint64 dropped = 0;
    bool restoreWhenDrained = false;
    std::function<void(const QVector<InputRecord>&)> emitBatch;

    // The first output's size in pixels, as it stands after its transform.
    QSize outputSize;
    qint32 outputTransform = WL_OUTPUT_TRANSFORM_NORMAL;
    bool outputReady = false;

    // The seat's keyboard, bound for the user's keymap and its later changes.
    wl_keyboard* seatKeyboard = nullptr;
    quint32 seatCapabilities = 0;
    std::string userKeymapText;

    xkb_context* xkb = nullptr;
    KeymapPtr userKeymap;
    // The user's keymap as this machine's xkbcommon writes it, to tell a change from an echo.
    std::string userKeymapNormal;
    KeymapKeys userKeys;
    // The layout of the user's keymap our keys are meant in now.
    quint32 userLayout = 0;
    // The keymap now on the virtual keyboard and the modifier state of the keys we hold on it.
    KeymapPtr activeKeymap;
    StatePtr activeState;
    bool typingActive = false;
    QVector<xkb_keysym_t> typingSyms;
    bool typingDirty = true;
    // The characters of the batch being sent, in order, and the one being typed: a character
    // missing from the typing keymap brings those after it along, one upload for many.
    QVector<xkb_keysym_t> batchSyms;
    int batchNext = 0;
    QTimer restoreTimer;

    QSet<quint32> heldKeys; // evdev codes
    QSet<quint32> heldButtons;
    quint32 sentDepressed = 0, sentLatched = 0, sentLocked = 0, sentGroup = 0;
    TypedUnitJoiner joiner;
    WheelSteps wheel;

    ~Private()
    {
        if (activeState)
            activeState.reset();
        activeKeymap.reset();
        userKeymap.reset();
        if (xkb != nullptr)
            xkb_context_unref(xkb);
    }

    // --- connection ---------------------------------------------------------------------

    bool check()
    {
        if (broken)
            return false;
        if (const int error = wl_display_get_error(display)) {
            broken = true;
            qWarning("Wayland input: the compositor closed the connection (%s); remote input stops",
                     std::strerror(error));
            notifier.reset();
            auto* status = InputBackendStatus::instance();
            if (status->kind() == InputBackendKind::Wlroots)
                status->setState(InputBackendStatus::State::Unavailable,
                                 QString::fromUtf8(QT_TRANSLATE_NOOP(
                                     "InputBackendChoice", "the compositor closed the connection")));
        }
        return !broken;
    }

    void flush()
    {
        // Never waits: what the socket cannot take now stays in libwayland's buffer, and
        // nothing more is written until it has drained.
        if (wl_display_flush(display) < 0 && errno == EAGAIN) {
            if (!stalled)
                qWarning("Wayland input: the compositor is not reading; input waits");
            stalled = true;
            congested = true;
            if (writeNotifier)
                writeNotifier->setEnabled(true);
        } else {
            congested = false;
        }
        check();
    }

    void enqueue(const QVector<InputRecord>& batch)
    {
        if (backlog.size() >= kMaxBacklog) {
            ++dropped;
            if (onlyMoves(batch))
                return;
            const auto move = std::find_if(backlog.begin(), backlog.end(), onlyMoves);
            if (move == backlog.end())
                return; // full of keys and clicks: the newest goes
            backlog.erase(move);
        }
        backlog.push_back(batch);
    }

    // The socket can take more: sends what waited, as far as it goes.
    void drain()
    {
        if (!check())
            return;
        flush();
        while (!congested && !broken && !backlog.empty()) {
            const QVector<InputRecord> batch = std::move(backlog.front());
            backlog.pop_front();
            emitBatch(batch);
            flush();
        }
        if (congested || broken)
            return;
        if (writeNotifier)
            writeNotifier->setEnabled(false);
        if (stalled)
            qInfo("Wayland input: the compositor reads again (%llu batches dropped meanwhile)",
                  static_cast<unsigned long long>(dropped));
        stalled = false;
        dropped = 0;
        if (restoreWhenDrained) {
            restoreWhenDrained = false;
            useUserLayout();
        }
    }

    void readEvents()
    {
        // Reads only what is there: wl_display_dispatch would first wait for a congested
        // socket to drain.
        while (wl_display_prepare_read(display) != 0) {
            if (wl_display_dispatch_pending(display) < 0) {
                check();
                return;
            }
        }
        if (wl_display_read_events(display) < 0 || wl_display_dispatch_pending(display) < 0)
            check();
    }

    // --- output ---------------------------------------------------------------------------

    static void outputGeometry(void* data, wl_output*, qint32, qint32, qint32, qint32, qint32, const char*,
                               const char*, qint32 transform)
    {
        static_cast<Private*>(data)->outputTransform = transform;
    }
    static void outputMode(void* data, wl_output*, quint32 flags, qint32 width, qint32 height, qint32)
    {
        auto* d = static_cast<Private*>(data);
        if (flags & WL_OUTPUT_MODE_CURRENT) {
            d->outputSize = QSize(width, height);
            d->outputReady = true;
        }
    }
    static void outputDone(void*, wl_output*) {}
    static void outputScale(void*, wl_output*, qint32) {}
    static void outputName(void*, wl_output*, const char*) {}
    static void outputDescription(void*, wl_output*, const char*) {}

    QSize transformedOutputSize() const
    {
        // Rotated by a quarter turn, the output's mode is tall where the desktop sees it wide.
        const bool quarter = outputTransform == WL_OUTPUT_TRANSFORM_90 ||
                             outputTransform == WL_OUTPUT_TRANSFORM_270 ||
                             outputTransform == WL_OUTPUT_TRANSFORM_FLIPPED_90 ||
                             outputTransform == WL_OUTPUT_TRANSFORM_FLIPPED_270;
        return quarter ? outputSize.transposed() : outputSize;
    }

    // --- seat and the user's layout ----------------------------------------------------------

    static void seatCapabilitiesChanged(void* data, wl_seat*, quint32 caps)
    {
        auto* d = static_cast<Private*>(data);
        d->seatCapabilities = caps;
        if (d->opened)
            d->watchSeatKeyboard();
    }

    // The seat's keyboard tells its keymap now and after every change of layout.
    void watchSeatKeyboard()
    {
        if (seatKeyboard == nullptr && (seatCapabilities & WL_SEAT_CAPABILITY_KEYBOARD)) {
            seatKeyboard = wl_seat_get_keyboard(globals.seat);
            wl_keyboard_add_listener(seatKeyboard, keyboardListener(), this);
        }
    }
    static void seatName(void*, wl_seat*, const char*) {}

    static void keyboardKeymap(void* data, wl_keyboard*, quint32 format, int fd, quint32 size)
    {
        auto* d = static_cast<Private*>(data);
        if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 && size > 0 && size < (64u << 20)) {
            void* map = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
            if (map != MAP_FAILED) {
                const char* text = static_cast<const char*>(map);
                std::string keymap(text, strnlen(text, size));
                munmap(map, size);
                if (d->opened)
                    d->followKeymap(keymap);
                else
                    d->userKeymapText = std::move(keymap);
            }
        }
        ::close(fd);
    }
    static void keyboardEnter(void*, wl_keyboard*, quint32, wl_surface*, wl_array*) {}
    static void keyboardLeave(void*, wl_keyboard*, quint32, wl_surface*) {}
    static void keyboardKey(void*, wl_keyboard*, quint32, quint32, quint32, quint32) {}
    static void keyboardModifiers(void*, wl_keyboard*, quint32, quint32, quint32, quint32, quint32) {}
    static void keyboardRepeat(void*, wl_keyboard*, qint32, qint32) {}

    static const wl_output_listener* outputListener()
    {
        static const wl_output_listener listener = {outputGeometry, outputMode, outputDone,
                                                    outputScale,    outputName, outputDescription};
        return &listener;
    }
    static const wl_seat_listener* seatListener()
    {
        static const wl_seat_listener listener = {seatCapabilitiesChanged, seatName};
        return &listener;
    }
    static const wl_keyboard_listener* keyboardListener()
    {
        static const wl_keyboard_listener listener = {keyboardKeymap, keyboardEnter,     keyboardLeave,
                                                      keyboardKey,    keyboardModifiers, keyboardRepeat};
        return &listener;
    }

    void loadUserKeymap()
    {
        if (!userKeymapText.empty())
            userKeymap.reset(xkb_keymap_new_from_string(
                xkb, userKeymapText.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS));
        if (!userKeymap) {
            // No keyboard on the seat yet: the layout the compositor would give one, which
            // both take from the XKB_DEFAULT_* variables.
            userKeymap.reset(xkb_keymap_new_from_names(xkb, nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS));
            if (userKeymap) {
                char* text = xkb_keymap_get_as_string(userKeymap.get(), XKB_KEYMAP_FORMAT_TEXT_V1);
                userKeymapText = text != nullptr ? text : "";
                free(text);
            }
        }
        if (!userKeymap)
            return;
        userKeys = KeymapKeys(userKeymap.get());
        userKeymapNormal = normalized(userKeymap.get());
        userLayout = 0;
    }

    static std::string normalized(xkb_keymap* keymap)
    {
        char* text = xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
        std::string s = text != nullptr ? text : "";
        free(text);
        return s;
    }

    // The seat's keymap changed: a new layout of the user's is followed; our own keymaps,
    // which the compositor hands back once our keyboard is the seat's latest, are not.
    void followKeymap(const std::string& text)
    {
        if (text.find(kTypingKeymapMark) != std::string::npos)
            return;
        KeymapPtr keymap(xkb_keymap_new_from_string(xkb, text.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1,
                                                    XKB_KEYMAP_COMPILE_NO_FLAGS));
        if (!keymap)
            return;
        std::string normal = normalized(keymap.get());
        if (normal == userKeymapNormal)
            return;
        qInfo("Wayland input: the keyboard layout changed; key combinations follow it");
        userKeymap = std::move(keymap);
        userKeymapText = text;
        userKeymapNormal = std::move(normal);
        userKeys = KeymapKeys(userKeymap.get());
        userLayout = 0;
        if (typingActive)
            return; // put on when typing ends
        if (congested) {
            restoreWhenDrained = true;
            typingActive = true; // so that the drain puts the new layout on
            return;
        }
        releaseHeldKeys();
        upload(userKeymapText);
        flush();
    }

    // --- the virtual keyboard's keymaps -----------------------------------------------------

    bool upload(const std::string& text)
    {
        quint32 size = 0;
        const int fd = keymapFile(text, &size);
        if (fd < 0) {
            qWarning("Wayland input: cannot hand a keymap to the compositor: %s", std::strerror(errno));
            return false;
        }
        zwp_virtual_keyboard_v1_keymap(keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd, size);
        ::close(fd);
        KeymapPtr keymap(xkb_keymap_new_from_string(xkb, text.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1,
                                                    XKB_KEYMAP_COMPILE_NO_FLAGS));
        activeState.reset(keymap ? xkb_state_new(keymap.get()) : nullptr);
        activeKeymap = std::move(keymap);
        sentDepressed = sentLatched = sentLocked = sentGroup = 0;
        return true;
    }

    std::string typingKeymapText() const
    {
        // One symbol per key and one level, so no modifier can change what a key types.
        std::string keycodes, symbols;
        for (int i = 0; i < typingSyms.size(); ++i) {
            const std::string name = "<T" + std::to_string(i) + ">";
            keycodes += "    " + name + " = " + std::to_string(kFirstTypingKeycode + i) + ";\n";
            char sym[64] = {};
            xkb_keysym_get_name(typingSyms[i], sym, sizeof sym);
            symbols += "    key " + name + " { [ " + sym + " ] };\n";
        }
        return "xkb_keymap {\n"
               "xkb_keycodes \"velmora\" {\n    minimum = 8;\n    maximum = 255;\n" +
               keycodes +
               "};\n"
               "xkb_types \"velmora\" { include \"basic\" };\n"
               "xkb_compat \"velmora\" { include \"basic\" };\n"
               "xkb_symbols \"velmora\" {\n" +
               symbols + "};\n};\n";
    }

    void useUserLayout()
    {
        restoreTimer.stop();
        if (!typingActive)
            return;
        if (congested) {
            restoreWhenDrained = true;
            return;
        }
        releaseHeldKeys();
        upload(userKeymapText);
        typingActive = false;
        flush();
    }

    // The evdev code that types `sym` through the typing keymap, uploading it as needed.
    int typingKey(xkb_keysym_t sym)
    {
        int slot = typingSyms.indexOf(sym);
        if (slot < 0) {
            if (typingSyms.size() >= kTypingSlots) {
                // Full: start over with the printable ASCII characters.
                typingSyms.clear();
                seedTypingSyms();
            }
            typingSyms.append(sym);
            slot = typingSyms.size() - 1;
            typingDirty = true;
            for (int i = batchNext + 1; i < batchSyms.size() && typingSyms.size() < kTypingSlots; ++i) {
                if (batchSyms[i] != 0 && !typingSyms.contains(batchSyms[i]))
                    typingSyms.append(batchSyms[i]);
            }
        }
        if (!typingActive || typingDirty) {
            releaseHeldKeys();
            if (!upload(typingKeymapText()))
                return -1;
            typingActive = true;
            typingDirty = false;
        }
        restoreTimer.start();
        return kFirstTypingKeycode + slot - 8;
    }

    void seedTypingSyms()
    {
        // Ordinary text then needs no upload beyond the first.
        for (char32_t c = 0x20; c < 0x7F; ++c)
            typingSyms.append(xkb_keysym_t(keysymForCodePoint(c)));
        for (char32_t c : {U'\n', U'\t', U'\b', U'\x1b'})
            typingSyms.append(xkb_keysym_t(keysymForCodePoint(c)));
    }

    // --- keys -----------------------------------------------------------------------------

    // The layout our keys are meant in: the typing keymap has one, the user's several.
    quint32 group() const { return typingActive ? 0 : userLayout; }

    void sendModifiers(quint32 depressed, quint32 latched, quint32 locked, quint32 layout)
    {
        zwp_virtual_keyboard_v1_modifiers(keyboard, depressed, latched, locked, layout);
        sentDepressed = depressed;
        sentLatched = latched;
        sentLocked = locked;
        sentGroup = layout;
    }

    void keyEvent(quint32 evdev, bool down)
    {
        // A key of another layout: that layout first, so the key arrives as meant.
        if (group() != sentGroup)
            sendModifiers(sentDepressed, sentLatched, sentLocked, group());
        zwp_virtual_keyboard_v1_key(keyboard, nowMs(), evdev,
                                    down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
        if (down)
            heldKeys.insert(evdev);
        else
            heldKeys.remove(evdev);
        // The compositor takes the modifier state from us, not from the keys.
        if (!activeState)
            return;
        xkb_state_update_key(activeState.get(), evdev + 8, down ? XKB_KEY_DOWN : XKB_KEY_UP);
        const quint32 depressed = xkb_state_serialize_mods(activeState.get(), XKB_STATE_MODS_DEPRESSED);
        const quint32 latched = xkb_state_serialize_mods(activeState.get(), XKB_STATE_MODS_LATCHED);
        const quint32 locked = xkb_state_serialize_mods(activeState.get(), XKB_STATE_MODS_LOCKED);
        if (depressed != sentDepressed || latched != sentLatched || locked != sentLocked)
            sendModifiers(depressed, latched, locked, group());
    }

    void releaseHeldKeys()
    {
        const QSet<quint32> held = heldKeys;
        for (quint32 code : held)
            keyEvent(code, false);
    }

    void typeCodePoint(char32_t codePoint)
    {
        const auto sym = xkb_keysym_t(keysymForCodePoint(codePoint));
        const int code = sym != 0 ? typingKey(sym) : -1;
        ++batchNext;
        if (code < 0)
            return;
        keyEvent(quint32(code), true);
        keyEvent(quint32(code), false);
    }

    void lookAhead(const QVector<InputRecord>& records)
    {
        batchSyms.clear();
        batchNext = 0;
        TypedUnitJoiner ahead = joiner; // decodes the batch as key() will
        for (const InputRecord& record : records) {
            if (record.type == InputRecord::Keyboard && (record.flags & InputRecord::Unicode) &&
                !(record.flags & InputRecord::KeyUp)) {
                if (const char32_t codePoint = ahead.take(record.scan))
                    batchSyms.append(xkb_keysym_t(keysymForCodePoint(codePoint)));
            }
        }
    }

    void key(const InputRecord& record)
    {
        const bool up = (record.flags & InputRecord::KeyUp) != 0;
        if (record.flags & InputRecord::Unicode) {
            // The character is typed whole on the press; the release has nothing left to do.
            if (!up) {
                if (const char32_t codePoint = joiner.take(record.scan))
                    typeCodePoint(codePoint);
            }
            return;
        }
        useUserLayout();
        const auto sym = xkb_keysym_t(keysymForVirtualKey(record.vk));
        // Every layout is searched: with "ru,us" the C of Ctrl+C is only in the second.
        const KeymapKeys::Place place = userKeys.find(sym, userLayout);
        if (place.keycode < 8) {
            qDebug("Wayland input: virtual key 0x%02x has no key in the layouts", unsigned(record.vk));
            return;
        }
        const quint32 evdev = place.keycode - 8;
        if (up && !heldKeys.contains(evdev))
            return; // a release without its press would confuse the modifier state
        if (!up)
            userLayout = place.layout;
        keyEvent(evdev, !up);
    }

    // --- pointer ------------------------------------------------------------------------------

    void button(quint32 code, bool down)
    {
        zwlr_virtual_pointer_v1_button(pointer, nowMs(), code,
                                       down ? WL_POINTER_BUTTON_STATE_PRESSED
                                            : WL_POINTER_BUTTON_STATE_RELEASED);
        if (down)
            heldButtons.insert(code);
        else
            heldButtons.remove(code);
    }

    // True when it sent a pointer request (which then needs a frame).
    bool mouse(const InputRecord& record, const QSize& screen)
    {
        const std::uint32_t f = record.flags;
        bool sent = false;
        if (f & InputRecord::MouseMove) {
            if (f & InputRecord::Absolute) {
                const int w = std::max(screen.width(), 1);
                const int h = std::max(screen.height(), 1);
                // 0..65535 spans the first to the last pixel, as on X11.
                const auto toPixel = [](qint32 v, int extent) {
                    const double p =
                        std::round(v * (std::max(extent - 1, 0) / double(InputRecord::AbsoluteMax)));
                    return quint32(std::clamp(p, 0.0, double(extent - 1)));
                };
                zwlr_virtual_pointer_v1_motion_absolute(pointer, nowMs(), toPixel(record.dx, w),
                                                        toPixel(record.dy, h), quint32(w), quint32(h));
                sent = true;
            } else if (record.dx != 0 || record.dy != 0) {
                const auto clampMotion = [](qint32 v) {
                    return wl_fixed_from_int(std::clamp(v, -kMaxRelativeMotion, kMaxRelativeMotion));
                };
                zwlr_virtual_pointer_v1_motion(pointer, nowMs(), clampMotion(record.dx),
                                               clampMotion(record.dy));
                sent = true;
            }
        }
        for (const ButtonChange& b : buttonChanges(f)) {
            button(b.code, b.down);
            sent = true;
        }
        if ((f & InputRecord::Wheel) && (f & InputRecord::WheelSmooth)) {
            sent = smoothWheel(record) || sent;
        } else if (f & InputRecord::Wheel) {
            const int steps = wheel.take(record.mouseData);
            if (steps != 0) {
                // Positive notches scroll away from the user: up, which is negative here.
                const int discrete = -steps;
                zwlr_virtual_pointer_v1_axis_source(pointer, WL_POINTER_AXIS_SOURCE_WHEEL);
                zwlr_virtual_pointer_v1_axis_discrete(pointer, nowMs(), WL_POINTER_AXIS_VERTICAL_SCROLL,
                                                      wl_fixed_from_int(discrete * kWheelStepDistance),
                                                      discrete);
                sent = true;
            }
        }
        return sent;
    }

    // Fingers on the phone: the distance as it came, in surface units, with the notch count
    // where one completes for clients that count notches; the lift ends the scroll.
    bool smoothWheel(const InputRecord& record)
    {
        const int steps = wheel.take(record.mouseData);
        const bool end = (record.flags & InputRecord::WheelEnd) != 0;
        if (record.mouseData == 0 && !end)
            return false;
        constexpr int kMaxNotches = WheelSteps::MaxStepsPerRecord;
        const double notches = std::clamp(record.mouseData / double(InputRecord::WheelDelta),
                                          double(-kMaxNotches), double(kMaxNotches));
        // Positive notches scroll away from the user: up, which is negative here.
        const wl_fixed_t value = wl_fixed_from_double(-notches * kWheelStepDistance);
        zwlr_virtual_pointer_v1_axis_source(pointer, WL_POINTER_AXIS_SOURCE_FINGER);
        if (steps != 0)
            zwlr_virtual_pointer_v1_axis_discrete(pointer, nowMs(), WL_POINTER_AXIS_VERTICAL_SCROLL, value,
                                                  -steps);
        else if (record.mouseData != 0)
            zwlr_virtual_pointer_v1_axis(pointer, nowMs(), WL_POINTER_AXIS_VERTICAL_SCROLL, value);
        if (end) {
            // A stop in the same frame would replace the distance: it gets a frame of its own.
            if (record.mouseData != 0) {
                zwlr_virtual_pointer_v1_frame(pointer);
                zwlr_virtual_pointer_v1_axis_source(pointer, WL_POINTER_AXIS_SOURCE_FINGER);
            }
            zwlr_virtual_pointer_v1_axis_stop(pointer, nowMs(), WL_POINTER_AXIS_VERTICAL_SCROLL);
        }
        return true;
    }
};

InputBackendWlroots::Globals InputBackendWlroots::probe()
{
    Globals found;
    wl_display* display = wl_display_connect(nullptr);
    if (display == nullptr)
        return found;
    Registry r;
    r.bind = false;
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &kRegistryListener, &r);
    wl_display_roundtrip(display);
    found.virtualPointer = r.sawPointerManager;
    found.virtualKeyboard = r.sawKeyboardManager;
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return found;
}

InputBackendWlroots::InputBackendWlroots(std::unique_ptr<Private> p)
    : d(std::move(p))
{
    d->restoreTimer.setSingleShot(true);
    d->restoreTimer.setInterval(kRestoreLayoutDelayMs);
    QObject::connect(&d->restoreTimer, &QTimer::timeout, [this] { restoreLayout(); });
    // Events from the compositor are few (errors, output changes, keymaps); they are read as
    // they come.
    d->notifier = std::make_unique<QSocketNotifier>(wl_display_get_fd(d->display), QSocketNotifier::Read);
    QObject::connect(d->notifier.get(), &QSocketNotifier::activated, [this] { d->readEvents(); });
    d->writeNotifier =
        std::make_unique<QSocketNotifier>(wl_display_get_fd(d->display), QSocketNotifier::Write);
    d->writeNotifier->setEnabled(false);
    QObject::connect(d->writeNotifier.get(), &QSocketNotifier::activated, [this] { d->drain(); });
    d->emitBatch = [this](const QVector<InputRecord>& batch) {
        emitBatch(batch);
    };
    d->opened = true;
    d->watchSeatKeyboard();
    d->flush();
}

std::unique_ptr<InputBackendWlroots> InputBackendWlroots::open()
{
    auto d = std::make_unique<Private>();
    d->display = wl_display_connect(nullptr);
    if (d->display == nullptr)
        return nullptr;
    const auto fail = [&d](const char* why) {
        qWarning("Wayland input: %s", why);
        wl_display_disconnect(d->display);
        return nullptr;
    };
    d->registry = wl_display_get_registry(d->display);
    wl_registry_add_listener(d->registry, &kRegistryListener, &d->globals);
    wl_display_roundtrip(d->display);
    Registry& g = d->globals;
    if (g.pointerManager == nullptr || g.keyboardManager == nullptr)
        return fail("the compositor offers no virtual pointer and keyboard");
    if (g.seat == nullptr)
        return fail("the compositor offers no seat");
    wl_seat_add_listener(g.seat, Private::seatListener(), d.get());
    if (g.output != nullptr)
        wl_output_add_listener(g.output, Private::outputListener(), d.get());
    wl_display_roundtrip(d->display); // seat capabilities and output modes
    if (d->seatCapabilities & WL_SEAT_CAPABILITY_KEYBOARD) {
        d->watchSeatKeyboard();
        wl_display_roundtrip(d->display); // the keymap
    }

    d->xkb = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (d->xkb == nullptr)
        return fail("cannot create a keymap context");
    d->loadUserKeymap();
    if (!d->userKeymap)
        return fail("no keyboard layout could be compiled");

    // Bound to the output, absolute moves cover that output rather than the whole desktop.
    if (g.pointerManagerVersion >= 2 && g.output != nullptr)
        d->pointer = zwlr_virtual_pointer_manager_v1_create_virtual_pointer_with_output(g.pointerManager,
                                                                                        g.seat, g.output);
    else
        d->pointer = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(g.pointerManager, g.seat);
    d->keyboard = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(g.keyboardManager, g.seat);
    d->seedTypingSyms();
    d->upload(d->userKeymapText);
    wl_display_roundtrip(d->display);
    if (wl_display_get_error(d->display) != 0)
        return fail("the compositor refused the virtual pointer or keyboard");
    const QSize size = d->transformedOutputSize();
    qInfo("Wayland input: virtual pointer (v%u) and keyboard on %s, output %dx%d", g.pointerManagerVersion,
          qPrintable(qEnvironmentVariable("WAYLAND_DISPLAY", QStringLiteral("wayland-0"))), size.width(),
          size.height());
    return std::unique_ptr<InputBackendWlroots>(new InputBackendWlroots(std::move(d)));
}

InputBackendWlroots::~InputBackendWlroots()
{
    d->notifier.reset();
    d->writeNotifier.reset();
    d->backlog.clear();
    if (!d->broken && !d->congested) {
        // Nothing stays pressed after we are gone.
        d->releaseHeldKeys();
        const QSet<quint32> buttons = d->heldButtons;
        for (quint32 b : buttons)
            d->button(b, false);
        if (!buttons.isEmpty())
            zwlr_virtual_pointer_v1_frame(d->pointer);
        zwlr_virtual_pointer_v1_destroy(d->pointer);
        zwp_virtual_keyboard_v1_destroy(d->keyboard);
        if (d->seatKeyboard != nullptr &&
            wl_keyboard_get_version(d->seatKeyboard) >= WL_KEYBOARD_RELEASE_SINCE_VERSION)
            wl_keyboard_release(d->seatKeyboard);
        // Sent without waiting for an answer: a compositor that hangs must not hold up the exit.
        wl_display_flush(d->display);
    }
    wl_display_disconnect(d->display);
}

void InputBackendWlroots::send(const QVector<InputRecord>& records)
{
    if (!d->check())
        return;
    if (d->congested || !d->backlog.empty()) {
        d->enqueue(records);
        return;
    }
    emitBatch(records);
    d->flush();
}

bool InputBackendWlroots::congested() const
{
    return d->congested;
}

void InputBackendWlroots::emitBatch(const QVector<InputRecord>& records)
{
    bool pointerFrame = false;
    QSize screen;
    d->lookAhead(records);
    for (const InputRecord& record : records) {
        if (record.type == InputRecord::Keyboard) {
            d->key(record);
            continue;
        }
        if (screen.isEmpty() && (record.flags & InputRecord::Absolute))
            screen = primaryScreenSize();
        pointerFrame = d->mouse(record, screen) || pointerFrame;
    }
    if (pointerFrame)
        zwlr_virtual_pointer_v1_frame(d->pointer);
}

QSize InputBackendWlroots::primaryScreenSize()
{
    if (d->outputReady && !d->outputSize.isEmpty())
        return d->transformedOutputSize();
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        if (QScreen* screen = app->primaryScreen())
            return screen->size() * screen->devicePixelRatio();
    }
    return QSize(1920, 1080);
}

void InputBackendWlroots::restoreLayout()
{
    if (d->check())
        d->useUserLayout();
}

bool InputBackendWlroots::typingLayoutActive() const
{
    return d->typingActive;
}
