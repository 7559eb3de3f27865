#include "platform/session/SessionPower.h"

#include "platform/session/SessionPowerLogind.h"

std::unique_ptr<SessionPower> createSessionPower()
{
    // Either bus may be missing (no logind in a container, no session bus over ssh): each way
    // is then skipped, and with neither every request is reported as unavailable.
    return std::make_unique<SessionPowerLogind>(QDBusConnection::systemBus(), QDBusConnection::sessionBus(),
                                                qEnvironmentVariable("XDG_SESSION_ID"));
}
