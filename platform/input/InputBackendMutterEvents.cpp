#include "platform/input/InputBackendMutterSession.h"

#include <QDBusMessage>

#include <algorithm>
#include <cmath>

// The phone's input as Mutter's Notify calls: keysyms, relative moves or absolute ones through
// the stream of the monitor under the point, buttons and the wheel.

void InputBackendMutter::Session::send(const QVector<InputRecord>& records)
{
    if (m_ready && !m_warming && m_waiting.empty()) {
        for (const InputRecord& r : records)
            inject(r);
        return;
    }
    // Until the session runs and the seat's keyboard is there, events wait in order.
    for (const InputRecord& r : records) {
        if (m_waiting.size() >= size_t(MaxWaitingRecords))
            m_waiting.pop_front();
        m_waiting.push_back(r);
    }
}

QRect InputBackendMutter::Session::unionOf(const QVector<Stream>& streams)
{
    QRect all;
    for (const Stream& s : streams)
        all |= s.area;
    return all;
}

void InputBackendMutter::Session::notify(const QString& method, const QVariantList& args)
{
    QDBusMessage call =
        QDBusMessage::createMethodCall(MutterBus::Service, m_session, MutterBus::SessionInterface, method);
    call.setArguments(args);
    // No answer is awaited: events go out in order on the one connection.
    m_bus.send(call);
}

void InputBackendMutter::Session::inject(const InputRecord& r)
{
    if (r.type == InputRecord::Keyboard)
        key(r);
    else
        mouse(r);
}

void InputBackendMutter::Session::key(const InputRecord& r)
{
    m_held.keys().take(r, [this](quint32 sym, bool down) { keysym(sym, down); });
}

// Positions span all monitors together; the move goes through the stream of the monitor
// under the point, in that stream's pixels. A point between monitors of unequal size goes
// to the nearest edge of the closest one.
void InputBackendMutter::Session::absoluteMotion(qint32 x, qint32 y)
{
    const QRect all = unionOf(m_streams);
    const auto toPixel = [](qint32 v, int start, int extent) {
        const double p = std::round(v * ((extent - 1) / double(InputRecord::AbsoluteMax)));
        return start + int(std::clamp(p, 0.0, double(std::max(extent - 1, 0))));
    };
    const QPoint point(toPixel(x, all.x(), all.width()), toPixel(y, all.y(), all.height()));
    const Stream* best = nullptr;
    qint64 bestDistance = 0;
    QPoint bestPoint;
    for (const Stream& s : qAsConst(m_streams)) {
        const QPoint inside(std::clamp(point.x(), s.area.left(), s.area.right()),
                            std::clamp(point.y(), s.area.top(), s.area.bottom()));
        const QPoint away = inside - point;
        const qint64 distance = qint64(away.x()) * away.x() + qint64(away.y()) * away.y();
        if (best == nullptr || distance < bestDistance) {
            best = &s;
            bestDistance = distance;
            bestPoint = inside;
        }
    }
    notify(QStringLiteral("NotifyPointerMotionAbsolute"),
           {best->path, (bestPoint.x() - best->area.x()) * best->scale,
            (bestPoint.y() - best->area.y()) * best->scale});
}

void InputBackendMutter::Session::mouse(const InputRecord& r)
{
    const std::uint32_t f = r.flags;
    if (f & InputRecord::MouseMove) {
        const qint64 now = m_surroundings.monotonicMs();
        if ((f & InputRecord::Absolute) && !m_streams.isEmpty()) {
            absoluteMotion(r.dx, r.dy);
        } else if (f & InputRecord::Absolute) {
            for (const QPoint& m : m_pointer.moveTo(r.dx, r.dy, screens(), now))
                motion(m.x(), m.y());
        } else if (r.dx != 0 || r.dy != 0) {
            motion(r.dx, r.dy);
            m_pointer.moved(r.dx, r.dy, screens(), now);
        }
    }
    for (const ButtonChange& b : buttonChanges(f))
        m_held.button(b.code, b.down, [this](quint32 code, bool down) { button(code, down); });
    if ((f & InputRecord::Wheel) && (f & InputRecord::WheelSmooth)) {
        smoothWheel(r);
    } else if (f & InputRecord::Wheel) {
        // Positive notches scroll away from the user: up, which is negative on the axis.
        if (const int steps = m_wheel.take(r.mouseData))
            notify(QStringLiteral("NotifyPointerAxisDiscrete"), {uint(0), -steps});
    }
}

// Fingers on the phone: the distance as it came (ten to a notch), from a finger source so
// that applications scroll smoothly, the lift as the scroll's finish.
void InputBackendMutter::Session::smoothWheel(const InputRecord& r)
{
    constexpr uint kFinish = 1, kSourceFinger = 4;
    constexpr double kNotchDistance = 10.0;
    m_wheel.take(r.mouseData);
    const bool end = (r.flags & InputRecord::WheelEnd) != 0;
    if (r.mouseData == 0 && !end)
        return;
    const double notches =
        std::clamp(r.mouseData / double(InputRecord::WheelDelta), -double(WheelSteps::MaxStepsPerRecord),
                   double(WheelSteps::MaxStepsPerRecord));
    notify(QStringLiteral("NotifyPointerAxis"),
           {0.0, -notches * kNotchDistance, kSourceFinger | (end ? kFinish : 0u)});
}

void InputBackendMutter::Session::releaseHeld()
{
    if (m_ready)
        m_held.releaseAll([this](quint32 sym, bool down) { keysym(sym, down); },
                          [this](quint32 code, bool down) { button(code, down); });
    else
        m_held.forget();
    m_waiting.clear();
}
