#pragma once

#include <QString>

// What start-up knows about the desktop session when it picks an input backend.
struct InputSessionFacts
{
    QString sessionType;          // XDG_SESSION_TYPE, lower case; may be empty
    bool waylandDisplay = false;  // a Wayland compositor is reachable
    bool x11Display = false;      // an X display (or XWayland) is reachable
    bool virtualPointer = false;  // the compositor offers zwlr_virtual_pointer_manager_v1
    bool virtualKeyboard = false; // the compositor offers zwp_virtual_keyboard_manager_v1
    bool portal = false;          // the RemoteDesktop portal answers on the session bus
    uint portalVersion = 0;       // its interface version; 2 and later remember a permission
    bool mutter = false;          // GNOME's own org.gnome.Mutter.RemoteDesktop answers
    bool preferPortal = false;    // the user wants the portal even where it asks at every start
    bool uinputOptIn = false;     // the user asked for the uinput backend
    bool uinputWritable = false;  // /dev/uinput can be opened for writing
    QString forced;               // VELMORA_INPUT_BACKEND, for tests and troubleshooting
};

enum class InputBackendKind
{
    XTest,
    Wlroots,
    Portal,
    Mutter,
    Uinput,
    LogOnly,
};

struct InputBackendChoice
{
    InputBackendKind kind = InputBackendKind::LogOnly;
    // Why this one, in a few words for the log; the Settings page shows it translated
    // (context "InputBackendChoice").
    QString reason;
};

// Picks the backend that reaches the session's own windows: XTest on X11; on Wayland the
// wlroots virtual devices, then on GNOME Mutter's own interface unless the portal can remember
// the user's permission (or the user prefers it), then the RemoteDesktop portal, then uinput
// where the user opted in; XTest under XWayland only as a last resort, since it reaches only
// X11 windows there.
InputBackendChoice chooseInputBackend(const InputSessionFacts& facts);

// Short, stable name of a backend kind ("XTest", "wlroots", "portal", "mutter", "uinput", "none").
QString inputBackendName(InputBackendKind kind);
// The kind a name stands for; LogOnly for "log" and unknown names.
InputBackendKind inputBackendKindFromName(const QString& name, bool* ok = nullptr);

// The one start-up line: "Input: <name> (<reason>)".
QString inputBackendLogLine(const InputBackendChoice& choice);
