#pragma once

#include "platform/input/InputBackendWlroots.h"
#include "platform/input/InputDecoding.h"
#include "platform/input/KeymapKeys.h"

#include <QSet>
#include <QSocketNotifier>
#include <QTimer>

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

// What the wlroots backend's files share. The connection, the registry and the backend's own
// calls are in InputBackendWlroots.cpp; the user's keymap, the typing keymap swapped in for
// text and the keys in InputBackendWlrootsKeyboard.cpp; the output and the pointer in
// InputBackendWlrootsPointer.cpp.
namespace WlrootsInput {

inline quint32 nowMs()
{
    return quint32(std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now().time_since_epoch())
                       .count());
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
                       quint32 version);
    static void globalRemove(void*, wl_registry*, quint32) {}
};

} // namespace WlrootsInput

struct InputBackendWlroots::Private
{
    using KeymapPtr = WlrootsInput::KeymapPtr;
    using StatePtr = WlrootsInput::StatePtr;

    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    WlrootsInput::Registry globals;
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
    bool keymapUnsettled = false; // a keymap went out and no key has followed it yet
    bool keysSinceKeymap = false;
    quint32 lastKeyMs = 0;
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

    ~Private();

    // --- connection (InputBackendWlroots.cpp) ----------------------------------------------------

    bool check();
    void flush();
    void enqueue(const QVector<InputRecord>& batch);
    void drain();
    void readEvents();

    // --- output (InputBackendWlrootsPointer.cpp) -------------------------------------------------

    static void outputGeometry(void* data, wl_output*, qint32, qint32, qint32, qint32, qint32, const char*,
                               const char*, qint32 transform);
    static void outputMode(void* data, wl_output*, quint32 flags, qint32 width, qint32 height, qint32);
    static void outputDone(void*, wl_output*) {}
    static void outputScale(void*, wl_output*, qint32) {}
    static void outputName(void*, wl_output*, const char*) {}
    static void outputDescription(void*, wl_output*, const char*) {}
    static const wl_output_listener* outputListener();
    QSize transformedOutputSize() const;

    // --- seat and the user's layout (InputBackendWlrootsKeyboard.cpp) ----------------------------

    static void seatCapabilitiesChanged(void* data, wl_seat*, quint32 caps);
    void watchSeatKeyboard();
    static void seatName(void*, wl_seat*, const char*) {}
    static void keyboardKeymap(void* data, wl_keyboard*, quint32 format, int fd, quint32 size);
    static void keyboardEnter(void*, wl_keyboard*, quint32, wl_surface*, wl_array*) {}
    static void keyboardLeave(void*, wl_keyboard*, quint32, wl_surface*) {}
    static void keyboardKey(void*, wl_keyboard*, quint32, quint32, quint32, quint32) {}
    static void keyboardModifiers(void*, wl_keyboard*, quint32, quint32, quint32, quint32, quint32) {}
    static void keyboardRepeat(void*, wl_keyboard*, qint32, qint32) {}
    static const wl_seat_listener* seatListener();
    static const wl_keyboard_listener* keyboardListener();
    void loadUserKeymap();
    static std::string normalized(xkb_keymap* keymap);
    void followKeymap(const std::string& text);

    // --- the virtual keyboard's keymaps (InputBackendWlrootsKeyboard.cpp) ------------------------

    // `extendsActive`: the keymap gives every key of the active one the same symbol.
    bool upload(const std::string& text, bool extendsActive = false);
    // Gives X clients under XWayland the time to catch up with a keymap change.
    void settle(unsigned long ms);
    std::string typingKeymapText() const;
    void useUserLayout();
    int typingKey(xkb_keysym_t sym);
    void seedTypingSyms();

    // --- keys (InputBackendWlrootsKeyboard.cpp) --------------------------------------------------

    // The layout our keys are meant in: the typing keymap has one, the user's several.
    quint32 group() const { return typingActive ? 0 : userLayout; }
    void sendModifiers(quint32 depressed, quint32 latched, quint32 locked, quint32 layout);
    void keyEvent(quint32 evdev, bool down);
    void releaseHeldKeys();
    void typeCodePoint(char32_t codePoint);
    void lookAhead(const QVector<InputRecord>& records);
    void key(const InputRecord& record);

    // --- pointer (InputBackendWlrootsPointer.cpp) ------------------------------------------------

    void button(quint32 code, bool down);
    bool mouse(const InputRecord& record, const QSize& screen);
    bool smoothWheel(const InputRecord& record);
};
