#include "remote/Server.h"

#include <QJsonObject>

void Server::handleAppExplore(const QJsonObject& params)
{
    Q_UNUSED(params)
}

void Server::handleAppOpen(const QJsonObject& params)
{
    Q_UNUSED(params)
}
