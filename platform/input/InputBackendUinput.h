#pragma once

#include "platform/input/InputBackendRealTime.h"

#include <memory>

// Injects input through virtual devices of the kernel (/dev/uinput), below any display server,
// for desktops that offer neither the wlroots protocols nor the portal. Only on the user's
// request: whoever can write /dev/uinput can type anywhere, so the device needs a udev rule.
// Absolute moves go to a tablet-like device spanning the whole desktop; keys are pressed by
// their place on a US keyboard, so text types as on that layout, and characters without a key
// there cannot be typed.
class InputBackendUinput final : public InputBackendRealTime
{
public:
    // Null when /dev/uinput cannot be opened or refuses the devices.
    static std::unique_ptr<InputBackendUinput> open();
    // Writes the events of the relative pointer and keyboard to `relativeFd` and those of the
    // absolute pointer to `absoluteFd`; takes both descriptors.
    InputBackendUinput(int relativeFd, int absoluteFd);
    ~InputBackendUinput() override;

    void send(const QVector<InputRecord>& records) override;
    QSize primaryScreenSize() override;
    // Only what a US keyboard has a key for.
    bool typesCharacter(char32_t character) override;

    // The evdev key of a Windows virtual-key code; 0 when there is none.
    static int keyForVirtualKey(int vk);
    // The evdev key that types `codePoint` on a US layout, and whether Shift goes with it.
    static int keyForCharacter(char32_t codePoint, bool* shift);

private:
    struct Private;
    std::unique_ptr<Private> d;
};
