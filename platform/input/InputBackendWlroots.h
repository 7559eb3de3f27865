#pragma once

#include "platform/input/InputBackendRealTime.h"

#include <memory>

// Injects input into a wlroots compositor (sway, Hyprland, labwc, river, Wayfire) through its
// virtual pointer and virtual keyboard. Absolute moves land on the first output the compositor
// announces. Text is typed through a keymap of its own that holds the characters to type, so
// any character arrives whatever the user's layout; the user's layout comes back once typing
// pauses and before any key combination. A compositor that stops reading for a while never
// blocks the caller: input waits in a bounded queue of ours and goes out once it reads again.
class InputBackendWlroots final : public InputBackendRealTime
{
public:
    struct Globals
    {
        bool virtualPointer = false;
        bool virtualKeyboard = false;
    };
    // Which virtual-input managers the compositor of WAYLAND_DISPLAY offers; none without one.
    static Globals probe();
    // Null when no compositor is reachable or it lacks either manager.
    static std::unique_ptr<InputBackendWlroots> open();
    ~InputBackendWlroots() override;

    void send(const QVector<InputRecord>& records) override;
    QSize primaryScreenSize() override;
    // Keys and keymaps reach the focused client in order however fast they come; a whole run
    // in one batch also lets one keymap hold all its characters.
    int typingPauseMs() override { return 0; }

    // Puts the user's layout back on the virtual keyboard; runs by itself shortly after typing.
    void restoreLayout();
    // Whether the typing keymap is on the virtual keyboard now.
    bool typingLayoutActive() const;
    // Whether input waits for the compositor to read again.
    bool congested() const;

private:
    void emitBatch(const QVector<InputRecord>& records);
    struct Private;
    explicit InputBackendWlroots(std::unique_ptr<Private> d);
    std::unique_ptr<Private> d;
};
