#include "app/DemoApp.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QStandardPaths>

DemoApp::DemoApp()
    : m_mainWindowRect()
{
}

DemoApp* DemoApp::get()
{
    return qobject_cast<DemoApp*>(instance());
}

QString DemoApp::applicationDirPath() const
{
    return QCoreApplication::applicationDirPath();
}

QString DemoApp::writableLocation() const
{
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
}

QSize DemoApp::defaultWindowSize() const
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return defaultWindowSizeFor(nullptr);
    const QSize workArea = screen->availableGeometry().size();
    return defaultWindowSizeFor(&workArea);
}
