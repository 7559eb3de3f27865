#include "platform/input/InputBackendWlrootsPrivate.h"

#include "platform/input/Keysyms.h"
#include "platform/input/SeatKeymap.h"

#include <QDebug>
#include <QThread>

#include <cerrno>
#include <cstring>

#include <sys/mman.h>
#include <unistd.h>

// The user's keymap as the seat's keyboard tells it, the typing keymap swapped in on the
// virtual keyboard while text is typed, and the keys sent in either.

using WlrootsInput::nowMs;

namespace {

// Keycodes of the typing keymap: xkb keycodes 9..255 (evdev 1..247).
constexpr int kFirstTypingKeycode = 9;
constexpr int kTypingSlots = 255 - kFirstTypingKeycode + 1;
// The name our typing keymap's sections carry, to know it when the compositor hands it back.
constexpr char kTypingKeymapMark[] = "xkb_keycodes \"velmora\"";
// X clients under XWayland translate keys with a copy of the keymap that they fetch only when
// they read the next key after XWayland's notice of a change: keys that follow a new keymap at
// once reach them under the old one, and keys that a busy client has not read yet when a keymap
// comes that gives their keys other symbols reach it under the new one. Between a keymap and
// the keys that need it they get a short time to catch up, before a keymap that gives the keys
// just sent other symbols a longer one. Wayland clients, which get keymaps in order, lose only
// that time.
constexpr unsigned long kKeymapSettleMs = 30;
constexpr unsigned long kKeysSettleMs = 500;

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

} // namespace

// --- seat and the user's layout ----------------------------------------------------------

void InputBackendWlroots::Private::seatCapabilitiesChanged(void* data, wl_seat*, quint32 caps)
{
    auto* d = static_cast<Private*>(data);
    d->seatCapabilities = caps;
    if (d->opened)
        d->watchSeatKeyboard();
}

// The seat's keyboard tells its keymap now and after every change of layout.
void InputBackendWlroots::Private::watchSeatKeyboard()
{
    if (seatKeyboard == nullptr && (seatCapabilities & WL_SEAT_CAPABILITY_KEYBOARD)) {
        seatKeyboard = wl_seat_get_keyboard(globals.seat);
        wl_keyboard_add_listener(seatKeyboard, keyboardListener(), this);
    }
}

void InputBackendWlroots::Private::keyboardKeymap(void* data, wl_keyboard*, quint32 format, int fd,
                                                  quint32 size)
{
    auto* d = static_cast<Private*>(data);
    // Read with the same bounds as the other desktops' keymaps: a file shorter than told would
    // fault when mapped.
    std::string keymap;
    if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1)
        keymap = SeatKeymap::readKeymapText(fd, size);
    if (!keymap.empty()) {
        if (d->opened)
            d->followKeymap(keymap);
        else
            d->userKeymapText = std::move(keymap);
    }
    ::close(fd);
}

const wl_seat_listener* InputBackendWlroots::Private::seatListener()
{
    static const wl_seat_listener listener = {seatCapabilitiesChanged, seatName};
    return &listener;
}
const wl_keyboard_listener* InputBackendWlroots::Private::keyboardListener()
{
    static const wl_keyboard_listener listener = {keyboardKeymap, keyboardEnter,     keyboardLeave,
                                                  keyboardKey,    keyboardModifiers, keyboardRepeat};
    return &listener;
}

void InputBackendWlroots::Private::loadUserKeymap()
{
    if (!userKeymapText.empty())
        userKeymap.reset(xkb_keymap_new_from_string(xkb, userKeymapText.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1,
                                                    XKB_KEYMAP_COMPILE_NO_FLAGS));
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

std::string InputBackendWlroots::Private::normalized(xkb_keymap* keymap)
{
    char* text = xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
    std::string s = text != nullptr ? text : "";
    free(text);
    return s;
}

// The seat's keymap changed: a new layout of the user's is followed; our own keymaps,
// which the compositor hands back once our keyboard is the seat's latest, are not.
void InputBackendWlroots::Private::followKeymap(const std::string& text)
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

bool InputBackendWlroots::Private::upload(const std::string& text, bool extendsActive)
{
    // A keymap that keeps every key of the active one leaves the keys just sent as they were.
    if (keysSinceKeymap && !extendsActive) {
        // Only what is left of the time since the last key: the user's layout put back a
        // second after typing waits for nothing.
        const quint32 since = nowMs() - lastKeyMs;
        if (since < kKeysSettleMs)
            settle(kKeysSettleMs - since);
    }
    keysSinceKeymap = false;
    quint32 size = 0;
    const int fd = keymapFile(text, &size);
    if (fd < 0) {
        qWarning("Wayland input: cannot hand a keymap to the compositor: %s", std::strerror(errno));
        return false;
    }
    zwp_virtual_keyboard_v1_keymap(keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd, size);
    ::close(fd);
    keymapUnsettled = true;
    KeymapPtr keymap(xkb_keymap_new_from_string(xkb, text.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1,
                                                XKB_KEYMAP_COMPILE_NO_FLAGS));
    activeState.reset(keymap ? xkb_state_new(keymap.get()) : nullptr);
    activeKeymap = std::move(keymap);
    sentDepressed = sentLatched = sentLocked = sentGroup = 0;
    return true;
}

std::string InputBackendWlroots::Private::typingKeymapText() const
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

void InputBackendWlroots::Private::useUserLayout()
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
int InputBackendWlroots::Private::typingKey(xkb_keysym_t sym)
{
    int slot = typingSyms.indexOf(sym);
    bool extends = typingActive;
    if (slot < 0) {
        if (typingSyms.size() >= kTypingSlots) {
            // Full: start over with the characters ahead only, as many as fit, since every
            // new start makes X clients wait (ASCII comes back when it is typed).
            typingSyms.clear();
            extends = false;
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
        if (!upload(typingKeymapText(), extends))
            return -1;
        typingActive = true;
        typingDirty = false;
    }
    restoreTimer.start();
    return kFirstTypingKeycode + slot - 8;
}

void InputBackendWlroots::Private::seedTypingSyms()
{
    // Ordinary text then needs no upload beyond the first.
    for (char32_t c = 0x20; c < 0x7F; ++c)
        typingSyms.append(xkb_keysym_t(keysymForCodePoint(c)));
    for (char32_t c : {U'\n', U'\t', U'\b', U'\x1b'})
        typingSyms.append(xkb_keysym_t(keysymForCodePoint(c)));
}

// --- keys -----------------------------------------------------------------------------

void InputBackendWlroots::Private::sendModifiers(quint32 depressed, quint32 latched, quint32 locked,
                                                 quint32 layout)
{
    zwp_virtual_keyboard_v1_modifiers(keyboard, depressed, latched, locked, layout);
    sentDepressed = depressed;
    sentLatched = latched;
    sentLocked = locked;
    sentGroup = layout;
}

void InputBackendWlroots::Private::keyEvent(quint32 evdev, bool down)
{
    if (keymapUnsettled) {
        keymapUnsettled = false;
        settle(kKeymapSettleMs);
    }
    keysSinceKeymap = true;
    lastKeyMs = nowMs();
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

void InputBackendWlroots::Private::settle(unsigned long ms)
{
    flush();
    if (!congested) // what waits for the socket waits anyway
        QThread::msleep(ms);
}

void InputBackendWlroots::Private::releaseHeldKeys()
{
    const QSet<quint32> held = heldKeys;
    for (quint32 code : held)
        keyEvent(code, false);
}

void InputBackendWlroots::Private::typeCodePoint(char32_t codePoint)
{
    const auto sym = xkb_keysym_t(keysymForCodePoint(codePoint));
    const int code = sym != 0 ? typingKey(sym) : -1;
    ++batchNext;
    if (code < 0)
        return;
    keyEvent(quint32(code), true);
    keyEvent(quint32(code), false);
}

void InputBackendWlroots::Private::lookAhead(const QVector<InputRecord>& records)
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

void InputBackendWlroots::Private::key(const InputRecord& record)
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
