#pragma once

#include "platform/InputBackend.h"

#include <QVarLengthArray>

// Pieces every backend below the X server needs to turn input records into device events.

// The evdev button presses and releases a mouse record's flags ask for, in flag order.
struct ButtonChange
{
    quint32 code = 0; // BTN_LEFT, BTN_RIGHT, BTN_MIDDLE
    bool down = false;
};
QVarLengthArray<ButtonChange, 6> buttonChanges(std::uint32_t flags);

// Wheel amounts in whole notches: parts of a notch add up until they make one, and a hostile
// amount is cut to a bound. Positive is away from the user.
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
