#include "web/UpgradeRoute.h"

#include "web/HttpRequestParser.h"

#include <QJsonDocument>
#include <QTcpSocket>

bool UpgradeRoute::matches(const HttpRequest& request) const
{
    return m_handler && request.isWebSocketUpgrade();
}

void UpgradeRoute::handle(const HttpRequest&, HttpExchange& exchange)
{
    QByteArray raw;
    QTcpSocket* socket = exchange.takeSocket(&raw);
    m_handler(socket, raw);
}

bool ApiRoute::matches(const HttpRequest& request) const
{
    return request.method == QLatin1String("POST");
}

void ApiRoute::handle(const HttpRequest& request, HttpExchange& exchange)
{
    const QJsonDocument document = QJsonDocument::fromJson(request.body);
    if (document.isNull() || !document.isObject())
        exchange.sendError(400, QStringLiteral("Bad Request"));
    else if (request.path != QLatin1String("/api/xxx"))
        exchange.sendError(404, QStringLiteral("Not Found"));
    // "/api/xxx" is reserved for the client; nothing handles it yet, so nothing is written.
}
