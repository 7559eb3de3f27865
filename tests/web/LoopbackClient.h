#pragma once

// Raw loopback clients for the web tests: they share the server's event loop, so every wait spins it.

#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpSocket>
#include <QTest>

template <typename Done> bool spinUntil(Done done, int ms = 5000)
{
    QElapsedTimer timer;
    for (timer.start(); !done() && timer.elapsed() < ms;)
        QTest::qWait(2);
    return done();
}

// A plain GET of `target` addressed to this PC.
inline QByteArray get(const QByteArray& target)
{
    return QByteArray("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
}

// A response as the server writes it: status line, the two headers (and any extra ones), body.
inline QByteArray httpResponse(const QByteArray& status, const QByteArray& type, const QByteArray& body,
                               const QByteArray& extraHeaders = QByteArray())
{
    return QByteArray("HTTP/1.1 " + status + "\r\nContent-Type: " + type + "\r\nContent-Length: " +
                      QByteArray::number(body.size()) + "\r\n" + extraHeaders + "\r\n" + body);
}
inline QByteArray httpError(int status, const QByteArray& reason,
                            const QByteArray& extraHeaders = QByteArray())
{
    return httpResponse(QByteArray::number(status) + ' ' + reason, "application/json",
                        QByteArray("{\n    \"error\": true,\n    \"message\": \"" + reason + "\"\n}\n"),
                        extraHeaders);
}

struct LoopbackClient
{
    QTcpSocket socket;
    QByteArray in; // received, not yet taken

    // `from`, when given, is the client's own address (another loopback address plays another host).
    explicit LoopbackClient(quint16 port, const QHostAddress& from = QHostAddress())
    {
        if (!from.isNull())
            socket.bind(from, 0);
        socket.connectToHost(QStringLiteral("127.0.0.1"), port);
        spinUntil([this] { return open(); });
    }
    void send(const QByteArray& bytes) { socket.write(bytes), socket.flush(); }
    bool open() const { return socket.state() == QAbstractSocket::ConnectedState; }
    template <typename Done> bool spin(Done done, int ms = 5000)
    {
        return spinUntil([&] { return (in += socket.readAll(), done()); }, ms);
    }
    bool waitClosed()
    {
        return spin([this] { return !open(); });
    }
    // The next whole response, framed by its Content-Length; empty when none comes in time.
    QByteArray next(int ms = 5000)
    {
        const auto size = [this] {
            const int end = in.indexOf("\r\n\r\n"), at = in.indexOf("\r\nContent-Length: ") + 18;
            return end < 0 || at < 18 ? -1 : end + 4 + in.mid(at, in.indexOf('\r', at) - at).toInt();
        };
        if (!spin([&] { return size() >= 0 && in.size() >= size(); }, ms))
            return QByteArray();
        const QByteArray reply = in.left(size());
        in.remove(0, reply.size());
        return reply;
    }
};
