#include "platform/InputDecoding.h"

#include <QChar>
#include <QDebug>

#include <algorithm>
#include <cstdlib>

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
