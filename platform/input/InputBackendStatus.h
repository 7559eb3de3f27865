#pragma once

#include "platform/input/InputBackendChoice.h"

#include <QObject>

// The input backend in use and whether it can inject: start-up fills it in, the backend
// keeps it current, and the Settings page shows it and asks for permission again.
class InputBackendStatus final : public QObject
{
    Q_OBJECT
public:
    enum class State
    {
        Ready,
        WaitingForPermission,
        Refused,
        Unavailable,
    };
    Q_ENUM(State)

    static InputBackendStatus* instance();

    InputBackendKind kind() const { return m_kind; }
    State state() const { return m_state; }
    // Why the backend was chosen, or what went wrong.
    QString detail() const { return m_detail; }
    // The desktop's sessions (the portal's, which asks the user, and GNOME's own) can be
    // started again.
    bool canAskAgain() const
    {
        return (m_kind == InputBackendKind::Portal || m_kind == InputBackendKind::Mutter) &&
               m_state != State::Ready;
    }

    void set(InputBackendKind kind, State state, const QString& detail);
    void setState(State state, const QString& detail);
    // The user wants the permission prompt once more.
    void askAgain() { emit askAgainRequested(); }

signals:
    void changed();
    void askAgainRequested();

private:
    using QObject::QObject;

    InputBackendKind m_kind = InputBackendKind::LogOnly;
    State m_state = State::Unavailable;
    QString m_detail;
};
