#pragma once

// Helpers of the remote-control tests: a phone on loopback TCP, log and signal recorders.

#include "platform/input/InputBackend.h"
#include "remote/Server.h"
#include "support/LogCapture.h"

#include <QHostAddress>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>

// A phone: connects to the server on loopback and writes raw bytes.
class Phone
{
public:
    // Connects and waits until `server` has taken this phone.
    bool attach(Server& server)
    {
        QSignalSpy connected(&server, &Server::clientConnected);
        m_socket.connectToHost(QHostAddress::LocalHost, server.serverPort());
        return m_socket.waitForConnected(5000) && (connected.count() > 0 || connected.wait(5000));
    }
    // Connects while another phone is served, and takes over with `firstLine`.
    bool takeOver(Server& server, const QByteArray& firstLine)
    {
        QSignalSpy connected(&server, &Server::clientConnected);
        m_socket.connectToHost(QHostAddress::LocalHost, server.serverPort());
        if (!m_socket.waitForConnected(5000))
            return false;
        send(firstLine);
        return connected.count() > 0 || connected.wait(5000);
    }
    void send(const QByteArray& bytes)
    {
        m_socket.write(bytes);
        m_socket.flush();
    }
    QTcpSocket& socket() { return m_socket; }
    bool isConnected() const { return m_socket.state() == QAbstractSocket::ConnectedState; }

private:
    QTcpSocket m_socket;
};

// Records the server's signals in order: "status:1", "connected:<peer>", "disconnected".
inline void recordServerEvents(Server* server, QObject* context, QStringList* events)
{
    QObject::connect(server, &Server::statusChanged, context,
                     [events](bool running) { *events << QStringLiteral("status:%1").arg(running); });
    QObject::connect(server, &Server::clientConnected, context,
                     [events](const QString& peer) { *events << QStringLiteral("connected:") + peer; });
    QObject::connect(server, &Server::clientDisconnected, context,
                     [events] { *events << QStringLiteral("disconnected"); });
}

Q_DECLARE_METATYPE(InputRecord)
