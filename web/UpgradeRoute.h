#pragma once

#include "web/HttpRoute.h"

#include <functional>

// GET "/ws" asking for the WebSocket protocol: the connection is handed to the browser channel.
class UpgradeRoute final : public HttpRoute
{
public:
    // Takes the socket (without a parent; the callee owns it) and the raw bytes read from it.
    using Handler = std::function<void(QTcpSocket* socket, const QByteArray& request)>;

    void setHandler(Handler handler) { m_handler = std::move(handler); }
    bool matches(const HttpRequest& request) const override;
    void handle(const HttpRequest& request, HttpExchange& exchange) override;

private:
    Handler m_handler;
};

// POST: a JSON object to the reserved API path, which has no handler yet and is not answered.
class ApiRoute final : public HttpRoute
{
public:
    bool matches(const HttpRequest& request) const override;
    void handle(const HttpRequest& request, HttpExchange& exchange) override;
};
