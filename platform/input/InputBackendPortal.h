#pragma once

#include "platform/input/InputBackendRealTime.h"
#include "platform/input/InputDecoding.h"

#include <QDBusConnection>
#include <memory>

class QSettings;
class SeatKeymap;

// Injects input through the desktop's RemoteDesktop portal (GNOME, KDE Plasma): the desktop
// asks the user once, and where the portal can remember the answer its restore token is kept
// in the settings so later starts do not ask again. The portal's pointer has no absolute
// position without a screen-cast stream, so absolute moves become relative ones from the last
// known position, found by pushing the pointer into the bottom-right corner of the desktop;
// since the user's own mouse moves it too, the push is repeated whenever the phone's moves
// resume after a pause. Absolute positions span all screens together. Text is typed as
// keysyms; the desktop types those its keyboard layout holds.
class InputBackendPortal final : public InputBackendRealTime
{
public:
    // Settings key of the restore token.
    static const char* const RestoreTokenKey;

    // Whether the portal on `bus` offers RemoteDesktop with keyboard and pointer, and its
    // interface version; blocks for at most a few seconds while the portal starts.
    struct Probe
    {
        bool available = false;
        uint version = 0;
    };
    static Probe probe(const QDBusConnection& bus);
    static bool available(const QDBusConnection& bus) { return probe(bus).available; }

    // How long events wait after the first tap of a modifier, and how many.
    static constexpr int KeyboardWarmUpMs = 100;
    static constexpr int MaxWaitingRecords = 4096;
    using Surroundings = DesktopSurroundings;
    static constexpr int RehomeAfterIdleMs = RelativePointer::RehomeAfterIdleMs;
    // Scroll distance of one wheel notch where the portal takes distances (KDE), as a real
    // wheel's notch scrolls there.
    static constexpr double WheelNotchDistance = 15.0;
    // Scroll distance of one notch of finger scrolling elsewhere (GNOME counts ten to a notch).
    static constexpr double SmoothNotchDistance = 10.0;
    // How long the desktop's question (GNOME's dialog) may stay unanswered; then the set-up is
    // given up, the dialog withdrawn, and the user may ask again.
    static constexpr int AnswerTimeoutMs = 120000;

    // Starts the session at once (without waiting for the bus); events before the user's
    // permission are dropped.
    InputBackendPortal(const QDBusConnection& bus, std::unique_ptr<QSettings> settings,
                       Surroundings surroundings = Surroundings::real());
    ~InputBackendPortal() override;

    void send(const QVector<InputRecord>& records) override;
    QSize primaryScreenSize() override;
    // The desktop types a keysym only where a key of its current layout has it: the seat's live
    // keymap decides.
    bool typesCharacter(char32_t character) override;
    // Events go out one at a time, each once the portal answered the one before.
    void whenDelivered(std::function<void()> done) override;

    // Closes any session and asks the desktop again.
    void restart();
    void setAnswerTimeout(int milliseconds);
    // Granted, and the seat's keyboard is there.
    bool isReady() const;

private:
    class Session;
    std::unique_ptr<Session> d;
    std::unique_ptr<SeatKeymap> m_keymap;
};
