#pragma once

#include "platform/input/InputBackendRealTime.h"

// Injects input into an X server through the XTest extension. Mouse records become pointer
// motion and button events; virtual-key records become key events of the keys the X keymap
// assigns to the matching keysyms; Unicode records are typed as characters, using a spare
// keycode mapped for the moment when the keymap has no key for a character. A spare takes a
// new character only once clients have had time to read its last one, so a long run of
// characters off the layout is better pasted.
class InputBackendX11 final : public InputBackendRealTime
{
public:
    // Null when no X display can be opened or it lacks XTest.
    static std::unique_ptr<InputBackendX11> open();
    ~InputBackendX11() override;

    void send(const QVector<InputRecord>& records) override;
    QSize primaryScreenSize() override;
    // Key events reach X clients in order however fast they come: no pause between characters.
    int typingPauseMs() override { return 0; }
    // Characters on the layout, and those on a spare key now; the others take a spare key
    // (spareCharacters at once, more only as spares settle) or are pasted.
    bool typesCharacter(char32_t character) override;
    int spareCharacters() override;
    bool typesRefusedSlowly() override;

    // Puts back the spare keycodes that were mapped for typing; runs by itself shortly
    // after typing stops, and at destruction.
    void restoreSpareKeys();

private:
    struct Private;
    explicit InputBackendX11(std::unique_ptr<Private> d);
    std::unique_ptr<Private> d;
};
