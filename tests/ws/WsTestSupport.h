#pragma once

// Helpers of the live-channel tests: a browser-like WebSocket phone and a raw handshake.

#include <QElapsedTimer>
#include <QStringList>
#include <QTcpSocket>
#include <QTest>
#include <QUrl>
#include <QWebSocket>

template <typename Predicate> bool spinUntil(Predicate done, int milliseconds = 5000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > milliseconds)
            return false;
        QTest::qWait(2);
    }
    return true;
}

// A browser phone: opens ws://127.0.0.1:<port>/ws?token=… and records what comes back.
class WsPhone
{
public:
    explicit WsPhone(const QString& origin = QString())
        : m_socket(origin)
    {
        QObject::connect(&m_socket, &QWebSocket::textMessageReceived,
                         [this](const QString& message) { m_messages << message; });
        QObject::connect(&m_socket, &QWebSocket::disconnected,
                         [this] { m_closeCode = m_socket.closeCode(); });
    }

    // True once open; false when refused or nothing happened in time.
    bool open(quint16 port, const QString& token)
    {
        m_socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/ws?token=%2").arg(port).arg(token)));
        spinUntil([this] { return isOpen() || closed(); });
        return isOpen();
    }
    void send(const QString& text) { m_socket.sendTextMessage(text); }
    bool waitClosed()
    {
        return spinUntil([this] { return closed(); });
    }
    bool waitMessages(int count)
    {
        return spinUntil([&] { return m_messages.size() >= count; });
    }

    bool isOpen() const { return m_socket.state() == QAbstractSocket::ConnectedState; }
    bool closed() const { return m_closeCode >= 0; }
    int closeCode() const { return m_closeCode; }
    const QStringList& messages() const { return m_messages; }
    QWebSocket& socket() { return m_socket; }

private:
    QWebSocket m_socket;
    QStringList m_messages;
    int m_closeCode = -1;
};

// A browser's opening handshake for `target`.
inline QByteArray handshake(const QByteArray& target, const QByteArray& extraHeaders = QByteArray())
{
    return "GET " + target +
           " HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
           "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n" +
           extraHeaders + "\r\n";
}

// Sends `request` on a raw connection and collects the answer until the peer closes.
class RawExchange
{
public:
    bool start(quint16 port, const QByteArray& request)
    {
        m_socket.connectToHost(QStringLiteral("127.0.0.1"), port);
        if (!m_socket.waitForConnected(5000))
            return false;
        m_socket.write(request);
        return m_socket.flush();
    }
    QByteArray finish()
    {
        spinUntil([this] { return m_socket.state() == QAbstractSocket::UnconnectedState; });
        return m_socket.readAll();
    }
    // The status of an answer; 0 when there was none.
    static int status(const QByteArray& response)
    {
        return response.startsWith("HTTP/1.1 ") ? response.mid(9, 3).toInt() : 0;
    }
    QTcpSocket& socket() { return m_socket; }

private:
    QTcpSocket m_socket;
};
