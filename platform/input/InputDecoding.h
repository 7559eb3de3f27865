#pragma once

#include "platform/input/InputBackend.h"

#include <QPoint>
#include <QRect>
#include <QSet>
#include <QSize>
#include <QString>
#include <QVarLengthArray>
#include <QVector>

#include <functional>

// Pieces every backend below the X server needs to turn input records into device events.

// The evdev button presses and releases a mouse record's flags ask for, in flag order.
struct ButtonChange
{
    quint32 code = 0; // BTN_LEFT, BTN_RIGHT, BTN_MIDDLE
    bool down = false;
};
QVarLengthArray<ButtonChange, 6> buttonChanges(std::uint32_t flags);

// Wheel amounts in whole notches: parts of a notch add up until they make one (a turn the
// other way drops them), and a hostile amount is cut to a bound. Positive is away from the user.
class WheelSteps
{
public:
    static constexpr int MaxStepsPerRecord = 500;
    int take(std::int32_t mouseData);

private:
    int m_remainder = 0;
};

// Typed text arrives one UTF-16 unit per record; this joins surrogate halves into one code
// point and folds a CR LF line break into one.
class TypedUnitJoiner
{
public:
    // The code point the unit completes, or 0 when it completes none (a high half, a lone
    // low half, or the LF of a CR LF).
    char32_t take(char16_t unit);

private:
    char16_t m_pendingHigh = 0;
    bool m_lastWasCarriageReturn = false;
};

// Keyboard records as keysym presses and releases, for desktops that take keysyms (the
// RemoteDesktop portal, Mutter): a typed unit becomes a press and release of its character's
// keysym, a virtual key its keysym. A release of a key that is not held is dropped, and what is
// held is remembered so that it can be let go when the phone leaves.
class KeysymKeys
{
public:
    using Send = std::function<void(quint32 keysym, bool down)>;
    void take(const InputRecord& record, const Send& send);
    // Releases every held key through `send` (none when it is empty) and forgets them.
    void releaseAll(const Send& send);

private:
    QSet<quint32> m_held;
    TypedUnitJoiner m_joiner;
};

// While a desktop does not read, the moves that wait need only take the pointer where the last
// of them leads: replaying each would show the phone's old path seconds late. Takes `batch` into
// `waiting`, which then holds at most the last absolute move and the relative distance after
// it. False, and nothing changed, when either holds more than pointer moves.
bool mergeMoves(QVector<InputRecord>& waiting, const QVector<InputRecord>& batch);
// True when the records only move the pointer (no button, wheel or key).
bool onlyPointerMoves(const QVector<InputRecord>& records);

// What a backend reads of the desktop: a clock for timing rules and the screens' logical
// geometry, the primary screen first. Tests give their own.
struct DesktopSurroundings
{
    std::function<qint64()> monotonicMs;
    std::function<QVector<QRect>()> screens;
    // The desktops the session names (XDG_CURRENT_DESKTOP), for their portals' quirks.
    QString desktop;
    // The system's clock, the application's screens and the session's desktop.
    static DesktopSurroundings real();
};

// Absolute positions for a pointer that only moves relatively (a desktop that gives no
// absolute position): the pointer is pushed into the bottom-right corner of the desktop, away
// from the hot corners, to know where it is, and moved from there. The user's own mouse moves
// it too, so the push is repeated whenever the phone's moves resume after a pause. Positions
// 0..AbsoluteMax span all screens together.
class RelativePointer
{
public:
    static constexpr int RehomeAfterIdleMs = 500;
    // The push goes this far beyond the desktop.
    static constexpr int HomingReach = 100000;

    // The relative motions that bring the pointer to the absolute position (x, y).
    QVarLengthArray<QPoint, 2> moveTo(qint32 x, qint32 y, const QVector<QRect>& screens, qint64 now);
    // The size of all screens together: the span of absolute positions.
    static QSize desktopSize(const QVector<QRect>& screens);
    // A relative move the pointer made.
    void moved(int dx, int dy, const QVector<QRect>& screens, qint64 now);
    // The pointer's position is unknown again (a new session).
    void reset() { m_homed = false; }

private:
    bool m_homed = false;
    QPoint m_position;
    qint64 m_lastMoveMs = 0;
};
