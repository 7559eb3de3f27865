#include "platform/input/RemoteDesktopSession.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QObject>

SessionCalls::SessionCalls(const QDBusConnection& bus, QObject* context)
    : m_bus(bus)
    , m_context(context)
{
}

void SessionCalls::call(const QDBusMessage& message, const Answer& answer, int timeoutMs)
{
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(message, timeoutMs), m_context);
    const quint64 generation = m_generation;
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, m_context,
                     [this, watcher, generation, answer] {
                         watcher->deleteLater();
                         if (generation != m_generation)
                             return;
                         answer(*watcher);
                     });
}

void HeldInput::button(quint32 code, bool down, const Button& send)
{
    send(code, down);
    if (down)
        m_buttons.insert(code);
    else
        m_buttons.remove(code);
}

void HeldInput::releaseAll(const KeysymKeys::Send& key, const Button& button)
{
    m_keys.releaseAll(key);
    for (quint32 code : qAsConst(m_buttons))
        button(code, false);
    m_buttons.clear();
}

void HeldInput::forget()
{
    m_keys.releaseAll({});
    m_buttons.clear();
}

void reportSessionState(InputBackendKind kind, InputBackendStatus::State state, const QString& detail)
{
    auto* status = InputBackendStatus::instance();
    if (status->kind() == kind)
        status->setState(state, detail.isEmpty() ? status->detail() : detail);
}
