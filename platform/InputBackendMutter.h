#pragma once

#include "platform/InputBackendRealTime.h"
#include "platform/InputDecoding.h"

#include <QDBusConnection>

#include <memory>

// Injects input through GNOME's own remote-desktop interface (org.gnome.Mutter.RemoteDesktop on
// the session bus), which asks the user nothing. Absolute moves go through a screen-cast stream
// of the primary monitor where Mutter can record one; otherwise they become relative moves
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

    // Starts the session at once, without waiting for the bus.
    InputBackendMutter(const QDBusConnection& bus,
                       DesktopSurroundings surroundings = DesktopSurroundings::real());
    ~InputBackendMutter() override;

    void send(const QVector<InputRecord>& records) override;
    QSize primaryScreenSize() override;

    bool isReady() const;
    // Whether absolute moves go through a screen-cast stream.
    bool hasStream() const;
    // Closes any session and starts a new one.
    void restart();

private:
    class Session;
    std::unique_ptr<Session> d;
};
