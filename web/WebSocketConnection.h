#pragma once

#include "web/WebSocketFrames.h"

#include <QAbstractSocket>
#include <QHostAddress>
#include <QObject>

class QTcpSocket;

// A WebSocket on the server's side, after its handshake: what a readable socket holds is read
// and its messages delivered in the same pass of the event loop, so a phone's message costs
// one wake-up. Pings are answered, a close is answered and ends the connection; a peer that
// breaks the protocol or sends a message over the limit is closed with the code that says so.
class WebSocketConnection final : public QObject
{
    Q_OBJECT
public:
    // Takes `socket` (becomes its parent), whose 101 answer has gone out; `early` holds what
    // the peer sent right after its handshake, already read from the socket.
    WebSocketConnection(QTcpSocket* socket, int maxMessageBytes, const QByteArray& early = QByteArray(),
                        QObject* parent = nullptr);
    ~WebSocketConnection() override;

    QHostAddress peerAddress() const;
    quint16 peerPort() const;
    QAbstractSocket::SocketState state() const;

    void sendTextMessage(const QString& message);
    void sendBinaryMessage(const QByteArray& message);
    // Sends a close frame with `closeCode`; no message is delivered after it, and the
    // connection ends once the peer answers (the caller cuts off a peer that does not).
    void close(int closeCode);
    void abort();

signals:
    void textMessageReceived(const QString& message);
    void binaryMessageReceived(const QByteArray& message);
    void disconnected();

private:
    void readAvailable();
    void send(WebSocketFrames::Opcode opcode, const QByteArray& payload);
    void sendRaw(const QByteArray& frame);

    QTcpSocket* m_socket;
    WebSocketFrames::Reader m_reader;
    bool m_closeSent = false;
    bool m_ended = false; // the peer's close came, or its bytes broke the protocol
};
