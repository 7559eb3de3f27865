#include "remote/PhoneNewcomers.h"

#include "remote/CommandTable.h"
#include "remote/LocalNetwork.h"
#include "remote/ProtocolGuard.h"

#include <QDebug>
#include <QHash>
#include <QJsonObject>
#include <QTcpSocket>

PhoneNewcomers::PhoneNewcomers(QObject* parent)
    : QObject(parent)
{
}

PhoneNewcomers::~PhoneNewcomers()
{
    clear();
}

void PhoneNewcomers::add(QTcpSocket* socket)
{
    if (m_sockets.size() >= MaxWaiting) {
        // The address holding most places gives up its oldest: many connections from one host
        // cannot push out a phone that waits for its first command.
        QHash<QString, int> held;
        for (QTcpSocket* waiting : qAsConst(m_sockets))
            ++held[peerAddressKey(waiting->peerAddress())];
        QTcpSocket* oldest = nullptr;
        int most = 0;
        for (QTcpSocket* waiting : qAsConst(m_sockets)) {
            const int count = held.value(peerAddressKey(waiting->peerAddress()));
            if (count > most)
                oldest = waiting, most = count;
        }
        qWarning().noquote() << "Too many new connections wait for their first command, the oldest is closed:"
                             << peerAddressKey(oldest->peerAddress());
        close(oldest);
    }
    m_sockets.append(socket);
    // Bounded: a newcomer's bytes stay unread until it proves to be a phone.
    socket->setReadBufferSize(MaxFirstLineBytes);
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onData(socket); });
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] { close(socket); });
    connect(socket, &QTcpSocket::errorOccurred, this, [this, socket] { close(socket); });
    qDebug().noquote() << "New connection waits for its first command before it takes over:"
                       << peerAddressKey(socket->peerAddress());
    if (socket->bytesAvailable() > 0)
        onData(socket);
}

void PhoneNewcomers::onData(QTcpSocket* socket)
{
    while (m_sockets.contains(socket)) {
        const qint64 available = socket->bytesAvailable();
        const QByteArray head = socket->peek(qMin(available, MaxFirstLineBytes));
        const int end = head.indexOf('\n');
        if (end < 0) {
            if (available >= MaxFirstLineBytes) {
                qWarning().noquote() << "A new connection's first line is too long, connection closed:"
                                     << peerAddressKey(socket->peerAddress());
                close(socket);
            }
            return;
        }
        const QByteArray line = head.left(end);
        if (looksLikeHttp(line)) {
            qWarning().noquote() << httpRefusal(socket->peerAddress());
            close(socket);
            return;
        }
        const std::optional<QJsonObject> command = CommandTable::parse(line);
        if (command && command->value(QLatin1String("command")).isString()) {
            release(socket);
            emit ready(socket); // the line stays unread: it runs as the new phone's first
            return;
        }
        socket->skip(end + 1);
        qDebug() << "接收到无效的JSON数据";
    }
}

QTcpSocket* PhoneNewcomers::takeNewest()
{
    if (m_sockets.isEmpty())
        return nullptr;
    QTcpSocket* socket = m_sockets.last();
    release(socket);
    return socket;
}

void PhoneNewcomers::release(QTcpSocket* socket)
{
    m_sockets.removeOne(socket);
    socket->disconnect(this);
}

void PhoneNewcomers::close(QTcpSocket* socket)
{
    if (!m_sockets.contains(socket))
        return;
    release(socket);
    socket->abort();
    socket->deleteLater();
}

void PhoneNewcomers::dropFrom(const QString& address)
{
    const QList<QTcpSocket*> sockets = m_sockets;
    for (QTcpSocket* socket : sockets) {
        if (peerAddressKey(socket->peerAddress()) == address)
            close(socket);
    }
}

void PhoneNewcomers::clear()
{
    while (!m_sockets.isEmpty())
        close(m_sockets.first());
}
