#include "platform/input/InputDecoding.h"

#include "platform/input/Keysyms.h"

#include <QChar>
#include <QDebug>
#include <QGuiApplication>
#include <QScreen>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <limits>

#include <linux/input-event-codes.h>

QVarLengthArray<ButtonChange, 6> buttonChanges(std::uint32_t flags)
{
    static const struct
    {
        std::uint32_t flag;
        quint32 code;
        bool down;
    } table[] = {
        {InputRecord::LeftDown, BTN_LEFT, true},     {InputRecord::LeftUp, BTN_LEFT, false},
        {InputRecord::RightDown, BTN_RIGHT, true},   {InputRecord::RightUp, BTN_RIGHT, false},
        {InputRecord::MiddleDown, BTN_MIDDLE, true}, {InputRecord::MiddleUp, BTN_MIDDLE, false},
    };
    QVarLengthArray<ButtonChange, 6> changes;
    for (const auto& row : table) {
        if (flags & row.flag)
            changes.append(ButtonChange{row.code, row.down});
    }
    return changes;
}

int WheelSteps::take(std::int32_t mouseData)
{
    // A turn the other way starts afresh: what was left of a notch the old way would swallow
    // the start of the new one.
    if ((mouseData > 0 && m_remainder < 0) || (mouseData < 0 && m_remainder > 0))
        m_remainder = 0;
    const qint64 total = qint64(m_remainder) + mouseData;
    const qint64 steps = total / InputRecord::WheelDelta;
    m_remainder = int(total % InputRecord::WheelDelta);
    if (std::llabs(steps) > MaxStepsPerRecord) {
        qWarning("input: wheel of %lld notches cut to %d", steps, MaxStepsPerRecord);
        return steps > 0 ? MaxStepsPerRecord : -MaxStepsPerRecord;
    }
    return int(steps);
}

char32_t TypedUnitJoiner::take(char16_t unit)
{
    char32_t codePoint = unit;
    if (QChar::isHighSurrogate(unit)) {
        m_pendingHigh = unit;
        return 0;
    }
    if (QChar::isLowSurrogate(unit)) {
        if (m_pendingHigh == 0)
            return 0; // a lone low half types nothing
        codePoint = QChar::surrogateToUcs4(m_pendingHigh, unit);
    }
    m_pendingHigh = 0;
    const bool skip = unit == u'\n' && m_lastWasCarriageReturn;
    m_lastWasCarriageReturn = unit == u'\r';
    return skip ? 0 : codePoint;
}

bool onlyPointerMoves(const QVector<InputRecord>& records)
{
    return std::all_of(records.begin(), records.end(), [](const InputRecord& r) {
        return r.type == InputRecord::Mouse &&
               (r.flags & ~(InputRecord::MouseMove | InputRecord::Absolute)) == 0;
    });
}

namespace {

std::int32_t saturated(std::int64_t v)
{
    return std::int32_t(std::clamp<std::int64_t>(v, std::numeric_limits<std::int32_t>::min(),
                                                 std::numeric_limits<std::int32_t>::max()));
}

} // namespace

bool mergeMoves(QVector<InputRecord>& waiting, const QVector<InputRecord>& batch)
{
    if (!onlyPointerMoves(waiting) || !onlyPointerMoves(batch))
        return false;
    const InputRecord* absolute = nullptr;
    std::int64_t dx = 0, dy = 0;
    const auto take = [&](const InputRecord& r) {
        if (!(r.flags & InputRecord::MouseMove))
            return; // moves nothing
        if (r.flags & InputRecord::Absolute) {
            absolute = &r; // what came before no longer matters
            dx = dy = 0;
        } else {
            // Saturates: a hostile phone's sum is cut where the backends cut one move anyway.
            dx = saturated(dx + r.dx);
            dy = saturated(dy + r.dy);
        }
    };
    for (const InputRecord& r : waiting)
        take(r);
    for (const InputRecord& r : batch)
        take(r);
    QVector<InputRecord> merged;
    if (absolute != nullptr)
        merged.push_back(*absolute);
    if (dx != 0 || dy != 0)
        merged.push_back(InputRecord::mouse(InputRecord::MouseMove, std::int32_t(dx), std::int32_t(dy)));
    waiting = std::move(merged);
    return true;
}

DesktopSurroundings DesktopSurroundings::real()
{
    DesktopSurroundings s;
    s.monotonicMs = [] {
        return qint64(std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now().time_since_epoch())
                          .count());
    };
    s.screens = [] {
        // Logical pixels: the desktop's remote-control interfaces move the pointer in those.
        QVector<QRect> screens;
        if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr) {
            if (const QScreen* primary = QGuiApplication::primaryScreen())
                screens << primary->geometry();
            for (const QScreen* screen : QGuiApplication::screens()) {
                if (screen != QGuiApplication::primaryScreen())
                    screens << screen->geometry();
            }
        }
        return screens;
    };
    s.desktop = qEnvironmentVariable("XDG_CURRENT_DESKTOP");
    return s;
}

namespace {

QVector<QRect> orDefault(const QVector<QRect>& screens)
{
    return screens.isEmpty() ? QVector<QRect>{QRect(0, 0, 1920, 1080)} : screens;
}

QRect unionOf(const QVector<QRect>& screens)
{
    QRect desktop;
    for (const QRect& s : screens)
        desktop |= s;
    return desktop;
}

// The bottom-right corner of the screen a push towards the bottom right ends on: the one
// reaching furthest that way.
QPoint homeOf(const QVector<QRect>& screens)
{
    QPoint home = screens.constFirst().bottomRight();
    for (const QRect& r : screens) {
        const QPoint p = r.bottomRight();
        if (p.x() + p.y() > home.x() + home.y())
            home = p;
    }
    return home;
}

} // namespace

QVarLengthArray<QPoint, 2> RelativePointer::moveTo(qint32 x, qint32 y, const QVector<QRect>& given,
                                                   qint64 now)
{
    const QVector<QRect> screens = orDefault(given);
    const QRect desktop = unionOf(screens);
    QVarLengthArray<QPoint, 2> motions;
    // The user's own mouse may have moved the pointer since our last move: find it again
    // unless the phone's moves follow each other closely.
    if (!m_homed || now - m_lastMoveMs > RehomeAfterIdleMs) {
        motions.append(QPoint(HomingReach, HomingReach));
        m_position = homeOf(screens);
        m_homed = true;
    }
    const auto toPixel = [](qint32 v, int start, int extent) {
        const double p = std::round(v * ((extent - 1) / double(InputRecord::AbsoluteMax)));
        return start + int(std::clamp(p, 0.0, double(extent - 1)));
    };
    const QPoint target(toPixel(x, desktop.x(), std::max(desktop.width(), 1)),
                        toPixel(y, desktop.y(), std::max(desktop.height(), 1)));
    if (target != m_position)
        motions.append(target - m_position);
    m_position = target;
    m_lastMoveMs = now;
    return motions;
}

QSize RelativePointer::desktopSize(const QVector<QRect>& screens)
{
    return unionOf(orDefault(screens)).size();
}

void RelativePointer::moved(int dx, int dy, const QVector<QRect>& given, qint64 now)
{
    const QRect desktop = unionOf(orDefault(given));
    m_position = QPoint(std::clamp(m_position.x() + dx, desktop.left(), desktop.right()),
                        std::clamp(m_position.y() + dy, desktop.top(), desktop.bottom()));
    m_lastMoveMs = now;
}

void KeysymKeys::take(const InputRecord& record, const Send& send)
{
    const bool up = (record.flags & InputRecord::KeyUp) != 0;
    if (record.flags & InputRecord::Unicode) {
        if (up)
            return;
        const char32_t codePoint = m_joiner.take(record.scan);
        const auto sym = codePoint != 0 ? quint32(keysymForCodePoint(codePoint)) : 0u;
        if (sym != 0) {
            send(sym, true);
            send(sym, false);
        }
        return;
    }
    const auto sym = quint32(keysymForVirtualKey(record.vk));
    if (sym == 0 || (up && !m_held.contains(sym)))
        return;
    send(sym, !up);
    if (up)
        m_held.remove(sym);
    else
        m_held.insert(sym);
}

void KeysymKeys::releaseAll(const Send& send)
{
    if (send) {
        for (const quint32 sym : qAsConst(m_held))
            send(sym, false);
    }
    m_held.clear();
}
