#include "platform/input/InputBackendRealTime.h"

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
