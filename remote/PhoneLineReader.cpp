#include "remote/PhoneLineReader.h"

#include "remote/ProtocolGuard.h"

#include "platform/network/TcpLiveness.h"

#include <QDebug>
#include <QHostAddress>
#include <QSignalBlocker>
#include <QTcpSocket>

namespace {

// Bytes Qt may hold unread per phone; beyond it the phone waits (TCP flow control) until
// we have caught up, so a fast sender cannot grow our memory.
constexpr qint64 kSocketReadBufferBytes = 256 * 1024;

} // namespace

void PhoneLineReader::prepare(QTcpSocket* socket)
{
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    // A phone that vanished is noticed within about 20 s rather than the system's two hours.
    if (!applyTcpLiveness(socket->socketDescriptor()))
        qWarning() << "Could not shorten the keep-alive of the phone's connection";
    socket->setReadBufferSize(kSocketReadBufferBytes);
}

void PhoneLineReader::close(QTcpSocket* socket)
{
    if (socket->state() != QAbstractSocket::UnconnectedState) {
        socket->abort();
        socket->disconnectFromHost();
        if (socket->state() != QAbstractSocket::UnconnectedState)
            socket->waitForDisconnected(1000);
    }
    socket->deleteLater();
}

PhoneLineReader::Result PhoneLineReader::take(QTcpSocket* socket, QByteArray* line)
{
    for (;;) {
        const LineFramer::Result result = m_framer.takeLine(line);
        if (result == LineFramer::Result::Line)
            return looksLikeHttp(*line) ? Result::Http : Result::Line;
        if (result == LineFramer::Result::Overflow)
            return Result::Overflow;
        // Read only when every complete line is handled: unhandled bytes stay bounded.
        if (socket->bytesAvailable() <= 0)
            return Result::NoLine;
        m_framer.append(socket->readAll());
    }
}

bool PhoneLineReader::hasPending(const QTcpSocket* socket) const
{
    return !m_framer.isEmpty() || socket->bytesAvailable() > 0;
}

qint64 PhoneLineReader::drain(QTcpSocket* socket, qint64 maxBytes, QQueue<QByteArray>* lines)
{
    // Bytes not handled yet, whether Qt or the system holds them: the abort that follows
    // would discard them. The phone's signals are of no use any more.
    const QSignalBlocker quiet(socket);
    do {
        m_framer.append(socket->readAll());
    } while (m_framer.size() <= maxBytes && socket->isValid() &&
             socket->state() == QAbstractSocket::ConnectedState && socket->waitForReadyRead(0));
    QByteArray line;
    bool spokeHttp = false;
    while (m_framer.takeLine(&line) == LineFramer::Result::Line) {
        spokeHttp = spokeHttp || looksLikeHttp(line);
        lines->enqueue(line);
    }
    qint64 dropped = m_framer.size(); // a partial line, or one past the limit
    m_framer.clear();
    if (spokeHttp) {
        // Not a phone: none of its lines runs, before or after the HTTP ones.
        qWarning().noquote() << httpRefusal(socket->peerAddress());
        for (const QByteArray& message : qAsConst(*lines))
            dropped += message.size();
        lines->clear();
    }
    return dropped;
}
