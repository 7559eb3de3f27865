#include "remote/Server.h"

#include "remote/InputSimulator.h"

#include <QDebug>
#include <QJsonObject>

void Server::handleMediaExplore(const QJsonObject& params)
{
    Q_UNUSED(params)
}

void Server::handleMediaOpen(const QJsonObject& params)
{
    Q_UNUSED(params)
}

void Server::handleCloseWindow()
{
    const QString text = QStringLiteral("收到关闭窗口命令");
    qDebug().noquote() << text;
    emit logMessage(text);
    // Alt+F4: Alt down, F4 down, F4 up, Alt up.
    m_inputSimulator->sendKeyCombination({18, 115});
}
