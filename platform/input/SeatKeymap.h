#pragma once

#include "platform/input/KeymapKeys.h"

#include <QByteArray>
#include <QObject>

#include <memory>
#include <string>

// The keymap the compositor gives its seat's keyboard, read over a Wayland connection of its own
// and kept current on every change (a layout added in the settings, "de" for "us"). Desktops that
// take keysyms (Mutter, the portals) type only what a key of this keymap holds. Without a Wayland
// display, or once the connection fails, the layout a desktop gives a keyboard it was told nothing
// about stands in (KeymapKeys::defaultLayout). Events are read on the Qt event loop as they come;
// nothing here waits for the compositor.
class SeatKeymap final : public QObject
{
    Q_OBJECT

public:
    // Keymaps are a few tens of KiB; a larger one is refused rather than read.
    static constexpr quint32 MaxKeymapBytes = 1u << 20;

    // Connects to `display` (a socket name or path, as WAYLAND_DISPLAY holds it); an empty one
    // means no Wayland display.
    explicit SeatKeymap(const QByteArray& display = qgetenv("WAYLAND_DISPLAY"), QObject* parent = nullptr);
    ~SeatKeymap() override;

    // Whether a keymap from the compositor is held (otherwise the default layout answers).
    bool isLive() const;
    // The live keymap's keys, or the default layout's.
    const KeymapKeys& keys() const;
    // Whether keysyms of the desktop type `character`. The current layout of a keymap of
    // several cannot be known (the compositor tells it only to a client with the keyboard's
    // focus), and Mutter 43 and KWin 5.27 drop a keysym that only another layout holds ("ru,us"
    // with Russian current types no Latin letter): a character counts only where every layout
    // holds it.
    bool typesCharacter(char32_t character) const;

    // At most `size` bytes (and at most MaxKeymapBytes) of keymap text from `fd`, up to the
    // first NUL; empty for a file that is not a regular one, shorter than `size`, or unreadable.
    // Never waits and never faults on a bad descriptor; `fd` stays open.
    static std::string readKeymapText(int fd, quint32 size);

signals:
    // A new keymap is live, or the connection failed and the default layout answers again.
    void changed();

private:
    struct Private;
    std::unique_ptr<Private> d;
};
