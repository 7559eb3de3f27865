#include "web/WebSocketConnection.h"

#include <QPointer>
#include <QTcpSocket>

using WebSocketFrames::Opcode;
using WebSocketFrames::Reader;

namespace {

// Read from the socket in pieces of this much, each handled before the next is read, so what
// is held stays bounded whatever the peer sends.
constexpr qint64 kReadPiece = 64 * 1024;
constexpr qint64 kSocketBuffer = 4 * kReadPiece;

} // namespace

WebSocketConnection::WebSocketConnection(QTcpSocket* socket, int maxMessageBytes, const QByteArray& early,
                                         QObject* parent)
    : QObject(parent)
    , m_socket(socket)
    , m_reader(maxMessageBytes)
{
    socket->setParent(this);
    socket->setReadBufferSize(kSocketBuffer);
    connect(socket, &QTcpSocket::readyRead, this, &WebSocketConnection::readAvailable);
    connect(socket, &QTcpSocket::disconnected, this, &WebSocketConnection::disconnected);
    m_reader.append(early);
    // Whatever came with the handshake is delivered once the owner has connected to the signals.
    if (!early.isEmpty() || socket->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, &WebSocketConnection::readAvailable, Qt::QueuedConnection);
}

WebSocketConnection::~WebSocketConnection()
{
    // The socket, our child, signals while it goes; nobody is to hear of it.
    QObject::disconnect(m_socket, nullptr, this, nullptr);
}

QHostAddress WebSocketConnection::peerAddress() const
{
    return m_socket->peerAddress();
}

quint16 WebSocketConnection::peerPort() const
{
    return m_socket->peerPort();
}

QAbstractSocket::SocketState WebSocketConnection::state() const
{
    return m_socket->state();
}

void WebSocketConnection::sendTextMessage(const QString& message)
{
    send(Opcode::Text, message.toUtf8());
}

void WebSocketConnection::sendBinaryMessage(const QByteArray& message)
{
    send(Opcode::Binary, message);
}

void WebSocketConnection::close(int closeCode)
{
    if (m_closeSent || m_socket->state() != QAbstractSocket::ConnectedState)
        return;
    sendRaw(WebSocketFrames::closeFrame(closeCode));
    m_closeSent = true;
}

void WebSocketConnection::abort()
{
    m_socket->abort();
}

void WebSocketConnection::readAvailable()
{
    QPointer<WebSocketConnection> self(this);
    for (;;) {
        Reader::Message message;
        const Reader::Result result = m_ended ? Reader::Result::NeedMore : m_reader.next(&message);
        if (result == Reader::Result::Error) {
            m_ended = true;
            close(m_reader.closeCode());
            m_socket->disconnectFromHost();
            if (!self)
                return;
            continue;
        }
        if (result == Reader::Result::NeedMore) {
            if (m_socket->bytesAvailable() <= 0)
                return;
            const QByteArray piece = m_socket->read(kReadPiece);
            if (!m_ended) // after the end, what still arrives is dropped unread
                m_reader.append(piece);
            continue;
        }
        switch (message.opcode) {
        case Opcode::Ping:
            // Left to go out with the pass's other writes: a peer sending a run of pings gets
            // its pongs without a system call for each.
            if (!m_closeSent && m_socket->state() == QAbstractSocket::ConnectedState)
                m_socket->write(WebSocketFrames::frame(Opcode::Pong, message.payload));
            break;
        case Opcode::Close:
            m_ended = true;
            if (!m_closeSent) { // answered with the peer's own code
                sendRaw(WebSocketFrames::frame(Opcode::Close, message.payload.left(2)));
                m_closeSent = true;
            }
            m_socket->disconnectFromHost();
            break;
        case Opcode::Text:
            if (!m_closeSent)
                emit textMessageReceived(QString::fromUtf8(message.payload));
            break;
        case Opcode::Binary:
            if (!m_closeSent)
                emit binaryMessageReceived(message.payload);
            break;
        default:
            break; // a pong: nothing was asked
        }
        if (!self)
            return;
    }
}

void WebSocketConnection::send(Opcode opcode, const QByteArray& payload)
{
    if (!m_closeSent && m_socket->state() == QAbstractSocket::ConnectedState)
        sendRaw(WebSocketFrames::frame(opcode, payload));
}

void WebSocketConnection::sendRaw(const QByteArray& frame)
{
    m_socket->write(frame);
    // Out now rather than when the next pass finds the socket writable: one wake-up less.
    m_socket->flush();
}
