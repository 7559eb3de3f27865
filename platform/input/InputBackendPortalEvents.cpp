#include "platform/input/InputBackendPortalSession.h"

#include <QDBusMessage>
#include <QDBusObjectPath>

#include <algorithm>
#include <cmath>

// The phone's input as the portal's Notify calls, sent one at a time: keysyms, relative moves,
// buttons and the wheel as each desktop's portal reads it.

void InputBackendPortal::Session::send(const QVector<InputRecord>& records)
{
    if (!m_ready) {
        if (!m_warnedNotReady)
            qDebug("Portal input: no permission yet; events are dropped");
        m_warnedNotReady = true;
        return;
    }
    for (const InputRecord& r : records) {
        if (!m_warmUp.isActive()) {
            inject(r);
        } else if (m_waiting.size() < size_t(MaxWaitingRecords)) {
            m_waiting.push_back(r);
        }
    }
}

void InputBackendPortal::Session::inject(const InputRecord& r)
{
    if (r.type == InputRecord::Keyboard)
        key(r);
    else
        mouse(r);
}

// xdg-desktop-portal handles each call on a thread of its own, so calls that are in flight
// together may reach the desktop in any order (a Ctrl press after the C). Each event goes
// out once the portal has answered the one before; moves that wait meanwhile are joined.
// `joinable`: a move that may be added to one waiting before it (any but the push into the
// corner, which must reach the edge on its own).
void InputBackendPortal::Session::notify(const QString& method, const QVariantList& args, bool joinable,
                                         const QVariantMap& options)
{
    if (joinable && !m_outgoing.empty() && m_outgoing.back().joinable) {
        Outgoing& last = m_outgoing.back();
        last.args[0] = last.args[0].toDouble() + args.value(0).toDouble();
        last.args[1] = last.args[1].toDouble() + args.value(1).toDouble();
        return;
    }
    if (m_outgoing.size() >= size_t(MaxWaitingRecords)) {
        if (!m_warnedFull)
            qWarning("Portal input: the portal does not keep up; events are dropped");
        m_warnedFull = true;
        return;
    }
    m_outgoing.push_back(Outgoing{method, args, joinable, options});
    sendNext();
}

QDBusMessage InputBackendPortal::Session::notifyCall(const Outgoing& o) const
{
    QDBusMessage call =
        QDBusMessage::createMethodCall(PortalBus::Service, PortalBus::Path, PortalBus::Interface, o.method);
    QVariantList all{QVariant::fromValue(QDBusObjectPath(m_session)), o.options};
    all += o.args;
    call.setArguments(all);
    return call;
}

void InputBackendPortal::Session::sendNext()
{
    if (!m_inFlight && m_outgoing.empty() && m_waiting.empty())
        runDelivered();
    if (m_inFlight || m_outgoing.empty() || m_session.isEmpty())
        return;
    const QDBusMessage call = notifyCall(m_outgoing.front());
    m_outgoing.pop_front();
    m_inFlight = true;
    m_calls.call(
        call,
        [this](QDBusPendingCallWatcher&) {
            m_inFlight = false;
            m_warnedFull = false;
            sendNext();
        },
        NotifyTimeoutMs);
}

void InputBackendPortal::Session::keysym(quint32 sym, bool down)
{
    notify(QStringLiteral("NotifyKeyboardKeysym"), {int(sym), uint(down ? 1 : 0)});
}

void InputBackendPortal::Session::key(const InputRecord& r)
{
    m_held.keys().take(r, [this](quint32 sym, bool down) { keysym(sym, down); });
}

void InputBackendPortal::Session::button(quint32 code, bool down)
{
    m_held.button(code, down, [this](quint32 held, bool pressed) {
        notify(QStringLiteral("NotifyPointerButton"), {int(held), uint(pressed ? 1 : 0)});
    });
}

// KDE's portal turns a discrete wheel step into one pixel of scrolling, a fraction of a
// notch; there a notch goes as the distance a wheel's notch scrolls.
bool InputBackendPortal::Session::wheelAsDistance() const
{
    return m_surroundings.desktop.split(QLatin1Char(':')).contains(QLatin1String("KDE"), Qt::CaseInsensitive);
}

void InputBackendPortal::Session::motion(double dx, double dy, bool joinable)
{
    notify(QStringLiteral("NotifyPointerMotion"), {dx, dy}, joinable);
}

void InputBackendPortal::Session::mouse(const InputRecord& r)
{
    const std::uint32_t f = r.flags;
    if (f & InputRecord::MouseMove) {
        if (f & InputRecord::Absolute) {
            for (const QPoint& m :
                 m_pointer.moveTo(r.dx, r.dy, m_surroundings.screens(), m_surroundings.monotonicMs()))
                motion(m.x(), m.y(), std::abs(m.x()) < RelativePointer::HomingReach);
        } else if (r.dx != 0 || r.dy != 0) {
            motion(r.dx, r.dy, true);
            m_pointer.moved(r.dx, r.dy, m_surroundings.screens(), m_surroundings.monotonicMs());
        }
    }
    for (const ButtonChange& b : buttonChanges(f))
        button(b.code, b.down);
    if ((f & InputRecord::Wheel) && (f & InputRecord::WheelSmooth)) {
        // Fingers on the phone: the distance as it came, the lift as the scroll's finish.
        m_wheel.take(r.mouseData);
        const bool end = (f & InputRecord::WheelEnd) != 0;
        if (r.mouseData != 0 || end) {
            const double notches =
                std::clamp(r.mouseData / double(InputRecord::WheelDelta),
                           -double(WheelSteps::MaxStepsPerRecord), double(WheelSteps::MaxStepsPerRecord));
            // KDE's portal turns the sign of this axis (see below).
            const double dy =
                wheelAsDistance() ? notches * WheelNotchDistance : -notches * SmoothNotchDistance;
            notify(QStringLiteral("NotifyPointerAxis"), {0.0, dy}, false, {{QStringLiteral("finish"), end}});
        }
    } else if (f & InputRecord::Wheel) {
        // Positive notches scroll away from the user: up, which is negative on the axis.
        const int steps = m_wheel.take(r.mouseData);
        if (steps != 0 && wheelAsDistance()) {
            // KDE's portal turns the sign of this axis: positive scrolls up there. The scroll
            // ends here, a notch being one whole gesture.
            notify(QStringLiteral("NotifyPointerAxis"), {0.0, double(steps) * WheelNotchDistance}, false,
                   {{QStringLiteral("finish"), true}});
        } else if (steps != 0) {
            notify(QStringLiteral("NotifyPointerAxisDiscrete"), {uint(0), -steps});
        }
    }
}

void InputBackendPortal::Session::releaseHeld()
{
    if (!m_ready)
        return;
    m_held.releaseAll([this](quint32 sym, bool down) { keysym(sym, down); },
                      [this](quint32 code, bool) {
                          notify(QStringLiteral("NotifyPointerButton"), {int(code), uint(0)});
                      });
}
