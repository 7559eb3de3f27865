#pragma once

#include <QByteArray>
#include <QTcpServer>
#include <QTcpSocket>

// A connection of the HTTP server. Qt WebSockets writes the 101 answer of an upgrade itself,
// with CORS headers ("Access-Control-Allow-Origin: *" and more) that no answer here may carry,
// since they would let any site's page read what is served; once told, the socket takes them
// out of the next answer on its way out.
class HttpSocket final : public QTcpSocket
{
    Q_OBJECT
public:
    using QTcpSocket::QTcpSocket;

    void stripCorsFromNextAnswer()
    {
        m_stripping = true;
        m_head.clear();
    }

protected:
    qint64 writeData(const char* data, qint64 size) override;

private:
    bool m_stripping = false;
    QByteArray m_head; // of the answer being stripped, until its blank line
};

// Hands out its connections as HttpSocket.
class HttpListener final : public QTcpServer
{
    Q_OBJECT
public:
    using QTcpServer::QTcpServer;

protected:
    void incomingConnection(qintptr descriptor) override;
};
