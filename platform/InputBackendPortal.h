#pragma once

#include "platform/InputBackendRealTime.h"

#include <QDBusConnection>

#include <memory>

class QSettings;

// Injects input through the desktop's RemoteDesktop portal (GNOME, KDE Plasma): the desktop
// asks the user once, and where the portal can remember the answer its restore token is kept
// in the settings so later starts do not ask again. The portal's pointer has no absolute
// position without a screen-cast stream, so absolute moves become relative ones from the last
// known position, found once by pushing the pointer into the bottom-right corner. Text is
// typed as keysyms; the desktop types those its keyboard layout holds.
class InputBackendPortal final : public InputBackendRealTime
{
public:
    // Settings key of the restore token.
    static const char* const RestoreTokenKey;

    // Whether the portal on `bus` offers RemoteDesktop with keyboard and pointer; blocks for
    // at most a few seconds while the portal starts.
    static bool available(const QDBusConnection& bus);

    // Starts the session at once; events before the user's permission are dropped.
    InputBackendPortal(const QDBusConnection& bus, std::unique_ptr<QSettings> settings);
    ~InputBackendPortal() override;

    void send(const QVector<InputRecord>& records) override;
    QSize primaryScreenSize() override;

    // Closes any session and asks the desktop again.
    void restart();
    bool isReady() const;

private:
    class Session;
    std::unique_ptr<Session> d;
};
