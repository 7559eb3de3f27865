#include "startup/ConsoleHandler.h"

#include "platform/session/ConsoleEvents.h"

#include <QCoreApplication>
#include <QDebug>
#include <QThread>
#include <QTimer>

bool consoleCtrlHandler(int ctrlType, const DelayedCall& schedule)
{
    const char* text = nullptr;
    switch (ctrlType) {
    case ConsoleEvents::CtrlC:
        text = "收到Ctrl+C信号，准备退出程序";
        break;
    case ConsoleEvents::CtrlBreak:
        text = "收到Ctrl+Break信号，准备退出程序";
        break;
    case ConsoleEvents::Close:
        text = "收到控制台关闭事件，准备退出程序";
        break;
    case ConsoleEvents::Logoff:
        text = "收到用户注销事件，准备退出程序";
        break;
    case ConsoleEvents::Shutdown:
        text = "收到系统关机事件，准备退出程序";
        break;
    default:
        qDebug() << "收到未知控制台事件:" << ctrlType;
        return false;
    }
    qDebug() << text;
    const auto quit = [] {
        QCoreApplication::quit();
    };
    if (schedule)
        schedule(500, quit);
    else
        QTimer::singleShot(500, QCoreApplication::instance(), quit);
    return true;
}

void onAboutToQuit()
{
    qDebug() << "应用程序即将退出，执行清理操作";
    QThread::msleep(100);
}
