#include "platform/InputBackendRealTime.h"

#include <QChar>
#include <QDateTime>
#include <QGuiApplication>
#include <QStyleHints>
#include <QThread>

#include <chrono>

int InputBackendRealTime::doubleClickTime()
{
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return app->styleHints()->mouseDoubleClickInterval();
    return 400;
}

void InputBackendRealTime::sleep(int milliseconds)
{
    if (milliseconds > 0)
        QThread::msleep(static_cast<unsigned long>(milliseconds));
}

qint64 InputBackendRealTime::monotonicMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

qint64 InputBackendRealTime::wallClockMs()
{
    return QDateTime::currentMSecsSinceEpoch();
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
