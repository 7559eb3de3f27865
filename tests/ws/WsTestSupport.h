#pragma once

// Helpers of the live-channel tests: a browser-like WebSocket client and a raw handshake.

#include <QElapsedTimer>
#include <QNetworkRequest>
#include <QStringList>
#include <QTcpSocket>
#include <QTest>
#include <QUrl>
#include <QWebSocket>

// A browser phone: opens ws://127.0.0.1:<port>/ws?token=… and records what comes back.
class WsPhone
{
public:
    explicit WsPhone(const QString& origin = QString())
        : m_socket(origin)
    {
        QObject::connect(&m_socket, &QWebSocket::textMessageReceived,
                         [this](const QString& message) { m_messages << message; });
        QObject::connect(&m_socket, &QWebSocket::disconnected, [this] {
            m_closed = true;
            m_closeCode = m_socket.closeCode();
        });
    }

    // True once open; false when refused or nothing happened in time.
    bool open(quint16 port, const QString& token, int milliseconds = 5000)
    {
        QString url = QStringLiteral("ws://127.0.0.1:%1/ws").arg(port);
        if (!token.isNull())
            url += QStringLiteral("?token=") + token;
        m_socket.open(QUrl(url));
        return spinUntil([this] { return isOpen() || m_closed; }, milliseconds) && isOpen();
    }
    void send(const QString& text) { m_socket.sendTextMessage(text); }
    bool waitClosed(int milliseconds = 5000)
    {
        return spinUntil([this] { return m_closed; }, milliseconds);
    }
    bool waitMessages(int count, int milliseconds = 5000)
    {
        return spinUntil([&] { return m_messages.size() >= count; }, milliseconds);
    }

    bool isOpen() const { return m_socket.state() == QAbstractSocket::ConnectedState; }
    bool closed() const { return m_closed; }
    int closeCode() const { return m_closeCode; }
    const QStringList& messages() const { return m_messages; }
    QWebSocket& socket() { return m_socket; }

    template <typename Predicate> static bool spinUntil(Predicate done, int milliseconds = 5000)
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

private:
    QWebSocket m_socket;
    QStringList m_messages;
    bool m_closed = false;
    int m_closeCode = -1;
};

// The bytes of a browser's opening handshake for `target`.
inline QByteArray handshake(const QByteArray& target, const QByteArray& extraHeaders = QByteArray())
{
    return "GET " + target +
           " HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
           "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n" +
           extraHeaders + "\r\n";
}

// A raw connection that sends a request and collects everything until the peer closes.
class RawExchange
{
public:
    bool start(quint16 port, const QByteArray& request)
    {
        m_socket.connectToHost(QStringLiteral("127.0.0.1"), port);
        if (!m_socket.waitForConnected(5000))
            return false;
        m_socket.write(request);
        m_socket.flush();
        return true;
    }
    // What arrived until the peer closed (or the time ran out).
    QByteArray finish(int milliseconds = 5000)
    {
        WsPhone::spinUntil([this] { return m_socket.state() == QAbstractSocket::UnconnectedState; },
                           milliseconds);
        return m_socket.readAll();
    }
    // The status of the answer; 0 when there was none.
    static int status(const QByteArray& response)
    {
        return response.startsWith("HTTP/1.1 ") ? response.mid(9, 3).toInt() : 0;
    }
    QTcpSocket& socket() { return m_socket; }

private:
    QTcpSocket m_socket;
};
