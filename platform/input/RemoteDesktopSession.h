#pragma once

#include "platform/input/InputBackendStatus.h"
#include "platform/input/InputDecoding.h"

#include <QDBusConnection>
#include <QSet>

#include <functional>

class QDBusMessage;
class QDBusPendingCallWatcher;
class QObject;

// What the desktop's remote-control sessions on the session bus (GNOME's own, the portal's) have
// in common: calls whose answers must not reach a session started after them, the keys and
// buttons the phone holds down, and the state they report.

// Tapped once so the seat gets a keyboard before the first real key; GNOME drops the key that
// makes one.
constexpr quint32 WarmUpKeysym = 0xffe1; // Shift_L

// Asynchronous calls on the session's bus. The window never waits for the desktop; an answer
// that arrives after `forgetPending()` (the session was closed or started anew) is dropped, so
// that no answer acts on a session it was not meant for.
class SessionCalls
{
public:
    using Answer = std::function<void(QDBusPendingCallWatcher& answer)>;

    // Answers run with `context` (the session object), and not after it is gone.
    SessionCalls(const QDBusConnection& bus, QObject* context);

    // Sends `message`; `answer` runs with its reply unless the session moved on meanwhile.
    // `timeoutMs` -1: the bus's default.
    void call(const QDBusMessage& message, const Answer& answer, int timeoutMs = -1);
    // Answers of every call made so far are dropped.
    void forgetPending() { ++m_generation; }

private:
    QDBusConnection m_bus;
    QObject* m_context;
    quint64 m_generation = 0;
};

// Keys and buttons the phone holds down on the desktop, to be let go when the session ends.
class HeldInput
{
public:
    using Button = std::function<void(quint32 code, bool down)>;

    KeysymKeys& keys() { return m_keys; }
    // Sends the button change through `send` and remembers what is held.
    void button(quint32 code, bool down, const Button& send);
    // Releases every held key and button through the senders and forgets them.
    void releaseAll(const KeysymKeys::Send& key, const Button& button);
    // Forgets what is held without sending anything: the session is not there to tell.
    void forget();

private:
    KeysymKeys m_keys;
    QSet<quint32> m_buttons;
};

// Reports the session's state, while `kind` is the backend in use; an empty detail keeps the
// one before.
void reportSessionState(InputBackendKind kind, InputBackendStatus::State state, const QString& detail);
