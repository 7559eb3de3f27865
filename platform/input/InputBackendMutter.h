#pragma once

#include "platform/input/InputBackendRealTime.h"
#include "platform/input/InputDecoding.h"

#include <QDBusConnection>
#include <QRect>

#include <memory>

class QDBusMessage;
class SeatKeymap;

// Injects input through GNOME's own remote-desktop interface (org.gnome.Mutter.RemoteDesktop on
// the session bus), which asks the user nothing. Absolute positions span all monitors together
// and go through a screen-cast stream of the monitor under the point where Mutter can record
// them (a new session follows when the monitors change); otherwise they become relative moves
// from a known corner, as with the portal. The seat has no keyboard until the first key, which
// Mutter then drops: a modifier is tapped first and real keys wait a moment.
class InputBackendMutter final : public InputBackendRealTime
{
public:
    // How long keys wait after the first tap of a modifier.
    static constexpr int KeyboardWarmUpMs = 100;
    // Events kept meanwhile (and while the session starts); older ones give way.
    static constexpr int MaxWaitingRecords = 4096;

    // Whether Mutter's remote-desktop interface answers on `bus` (or can be started there).
    static bool available(const QDBusConnection& bus);

    // A monitor as Mutter places it: its connector, its place on the desktop, and how many
    // of its stream's pixels make one of the desktop's.
    struct Monitor
    {
        QString connector;
        QRect area;
        double streamScale = 1;
        bool operator==(const Monitor& o) const
        {
            return connector == o.connector && area == o.area && streamScale == o.streamScale;
        }
    };
    // The monitors of a DisplayConfig GetCurrentState answer, the primary first; none for an
    // answer of another form.
    static QVector<Monitor> monitorsOf(const QDBusMessage& state);

    // Starts the session at once, without waiting for the bus.
    InputBackendMutter(const QDBusConnection& bus,
                       DesktopSurroundings surroundings = DesktopSurroundings::real());
    ~InputBackendMutter() override;

    void send(const QVector<InputRecord>& records) override;
    QSize primaryScreenSize() override;
    // The desktop types a keysym only where a key of its current layout has it: the seat's live
    // keymap decides.
    bool typesCharacter(char32_t character) override;

    bool isReady() const;
    // Whether absolute moves go through screen-cast streams, and through how many.
    bool hasStream() const;
    int streamCount() const;
    // Closes any session and starts a new one.
    void restart();

private:
    class Session;
    std::unique_ptr<Session> d;
    std::unique_ptr<SeatKeymap> m_keymap;
};
