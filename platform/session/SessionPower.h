#pragma once

#include <QString>

#include <functional>
#include <memory>

// The PC's power and the user's session: lock the screen, sleep, restart, shut down, log out.
// Every request is asynchronous; the desktop's own authorisation decides, and its refusal is
// reported as such, apart from a service that is not there at all.
class SessionPower
{
public:
    enum class Action
    {
        Lock,
        Suspend,
        Reboot,
        PowerOff,
        Logout,
    };
    enum class Outcome
    {
        Done,
        Refused,     // the desktop said no (not authorised, inhibited, already under way)
        Unavailable, // nothing on this PC answers for it
    };
    // `detail` names the desktop's reason (a D-Bus error name), for the log.
    using Done = std::function<void(Outcome outcome, const QString& detail)>;

    virtual ~SessionPower() = default;
    // `done` is called once, later, on the calling thread.
    virtual void request(Action action, Done done) = 0;
};

// The desktop session's services on the system and session buses.
std::unique_ptr<SessionPower> createSessionPower();
