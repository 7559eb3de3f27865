#pragma once

#include "web/HttpRoute.h"
#include "web/HttpServer.h"

#include <QFile>
#include <QHostAddress>
#include <QTcpSocket>

// A route's view of the connection its request came in on.
class HttpServer::Exchange final : public HttpExchange
{
public:
    // `buffer` holds what was read, ending in `bodyBytes` bytes that follow the request's head.
    Exchange(HttpServer* server, QTcpSocket* socket, const QByteArray* buffer, qint64 bodyBytes)
        : m_server(server)
        , m_socket(socket)
        , m_buffer(buffer)
        , m_bodyBytes(bodyBytes)
    {
    }
    QHostAddress peerAddress() const override { return m_socket->peerAddress(); }
    QHostAddress localAddress() const override { return m_socket->localAddress(); }
    void sendResponse(const QByteArray& response) override { m_server->sendResponse(m_socket, response); }
    void sendError(int statusCode, const QString& message) override
    {
        m_server->sendErrorResponse(m_socket, statusCode, message);
    }
    void sendFile(const QByteArray& head, std::unique_ptr<QFile> file, qint64 offset, qint64 length) override
    {
        m_server->sendFile(m_socket, head, std::move(file), offset, length);
    }
    void receiveBody(qint64 length, std::unique_ptr<HttpBodySink> sink) override
    {
        const QByteArray first = m_buffer != nullptr ? m_buffer->right(int(m_bodyBytes)) : QByteArray();
        m_server->receiveBody(m_socket, length, std::move(sink), first);
    }
    void closeWith(const QByteArray& response) override { m_server->closeWith(m_socket, response); }
    QTcpSocket* takeSocket(QByteArray* raw) override
    {
        if (raw != nullptr && m_buffer != nullptr)
            *raw = *m_buffer;
        return m_server->handOver(m_socket);
    }

private:
    HttpServer* m_server;
    QTcpSocket* m_socket;
    const QByteArray* m_buffer;
    qint64 m_bodyBytes;
};
