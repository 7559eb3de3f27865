#pragma once

#include "platform/session/SessionPower.h"

#include <QStringList>

// Records what it was asked and answers with a set outcome at once (tests, and where no bus
// is reachable: then everything is unavailable).
class SessionPowerFake final : public SessionPower
{
public:
    explicit SessionPowerFake(Outcome outcome = Outcome::Done)
        : m_outcome(outcome)
    {
    }

    void request(Action action, Done done) override
    {
        static const char* const names[] = {"lock", "suspend", "reboot", "poweroff", "logout"};
        m_calls << QLatin1String(names[int(action)]);
        done(m_outcome, QStringLiteral("fake"));
    }

    void setOutcome(Outcome outcome) { m_outcome = outcome; }
    const QStringList& calls() const { return m_calls; }

private:
    Outcome m_outcome;
    QStringList m_calls;
};
