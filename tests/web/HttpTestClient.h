#pragma once

// A raw loopback HTTP client for tests that run the server on the same event loop: every wait
// spins that loop, so the server keeps working while the test waits.

#include <QElapsedTimer>
#include <QList>
#include <QTcpSocket>
#include <QTest>

struct HttpReply
{
    QByteArray head; // status line and headers, with the blank line
    QByteArray body;
    int status() const { return head.mid(9, 3).toInt(); }
};

class HttpTestClient
{
public:
    bool connectTo(quint16 port)
    {
        m_socket.connectToHost(QStringLiteral("127.0.0.1"), port);
        return spinUntil([this] { return m_socket.state() == QAbstractSocket::ConnectedState; });
    }
    void send(const QByteArray& bytes)
    {
        m_socket.write(bytes);
        m_socket.flush();
    }
    // The next complete response, or an empty head when none arrives or the connection ends.
    HttpReply next(int milliseconds = 5000)
    {
        HttpReply reply;
        spinUntil([&] { return take(&reply) || !isOpen(); }, milliseconds);
        return reply;
    }
    bool waitClosed(int milliseconds = 5000)
    {
        return spinUntil([this] { return !isOpen(); }, milliseconds);
    }
    bool isOpen() const { return m_socket.state() == QAbstractSocket::ConnectedState; }
    QTcpSocket& socket() { return m_socket; }
    QByteArray& received() { return m_received; }

    template <typename Predicate> bool spinUntil(Predicate done, int milliseconds = 5000)
    {
        QElapsedTimer timer;
        timer.start();
        while (!done()) {
            if (timer.elapsed() > milliseconds)
                return false;
            QTest::qWait(2);
            m_received += m_socket.readAll();
        }
        return true;
    }

private:
    bool take(HttpReply* reply)
    {
        const int end = m_received.indexOf("\r\n\r\n");
        if (end < 0)
            return false;
        const QByteArray head = m_received.left(end + 4);
        const int at = head.indexOf("Content-Length: ");
        const qint64 length = at < 0 ? 0 : head.mid(at + 16, head.indexOf('\r', at) - at - 16).toLongLong();
        if (m_received.size() < end + 4 + length)
            return false;
        reply->head = head;
        reply->body = m_received.mid(end + 4, int(length));
        m_received.remove(0, end + 4 + int(length));
        return true;
    }

    QTcpSocket m_socket;
    QByteArray m_received;
};
