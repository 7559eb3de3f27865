#include "web/SealedPhoneLink.h"

#include "web/WebSocketConnection.h"

#include <QDebug>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

namespace {

// An IPv4 peer reads the same whichever way it came in.
QString addressText(const QHostAddress& address)
{
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4).toString() : address.toString();
}

} // namespace

SealedPhoneLink::SealedPhoneLink(WebSocketConnection* socket, const SealedChannel::Key& key, QObject* parent)
    : PhoneLink(parent)
    , m_socket(socket)
    , m_seal(std::make_unique<SealedChannel::Seal>(key, SealedChannel::Direction::ToPage))
    , m_silence(new QTimer(this))
    , m_address(addressText(socket->peerAddress()))
{
    socket->setParent(this);
    m_silence->setSingleShot(true);
    m_silence->setInterval(SilenceLimitMs);
    connect(m_silence, &QTimer::timeout, this, &SealedPhoneLink::onSilence);
    connect(socket, &WebSocketConnection::binaryMessageReceived, this, &SealedPhoneLink::onFrame);
    // Text is what the handshake used; after it, text can only be a downgrade or an injection.
    connect(socket, &WebSocketConnection::textMessageReceived, this,
            [this](const QString&) { fail("a message in clear"); });
    connect(socket, &WebSocketConnection::disconnected, this, [this] {
        if (!m_closing)
            emit disconnected();
    });
}

SealedPhoneLink::~SealedPhoneLink()
{
    // The socket, our child, signals while it goes; nobody is to hear of it.
    QObject::disconnect(m_socket, nullptr, this, nullptr);
}

QHostAddress SealedPhoneLink::peerAddress() const
{
    return m_socket->peerAddress();
}

quint16 SealedPhoneLink::peerPort() const
{
    return m_socket->peerPort();
}

bool SealedPhoneLink::isOpen() const
{
    return !m_closing && !m_seal->broken() && m_socket->state() == QAbstractSocket::ConnectedState;
}

void SealedPhoneLink::sendMessage(const QByteArray& message)
{
    if (isOpen())
        m_socket->sendBinaryMessage(m_seal->seal(message));
}

void SealedPhoneLink::onFrame(const QByteArray& frame)
{
    if (m_closing || m_seal->broken())
        return;
    std::optional<QByteArray> message = m_seal->open(frame);
    if (!message) {
        fail("a frame that does not open");
        return;
    }
    if (m_heard.isValid() && m_heard.elapsed() > StaleGapMs) {
        giveUp(QStringLiteral(
                   "Web client's frames came after %1 s of silence, too late to run; connection dropped: %2")
                   .arg(m_heard.elapsed() / 1000)
                   .arg(m_address));
        return;
    }
    if (answerPing(*message)) {
        m_silence->start(); // watched from its first ping on
        m_heard.start();
        return;
    }
    if (m_heard.isValid()) {
        m_silence->start();
        m_heard.start();
    }
    if (m_localHandler && m_localHandler(*message, this))
        return;
    emit messageReceived(*message);
}

bool SealedPhoneLink::answerPing(const QByteArray& message)
{
    if (!message.contains("\"ping\""))
        return false; // not worth parsing: the common case, a command
    const QJsonObject ping = QJsonDocument::fromJson(message).object();
    if (ping.value(QLatin1String("command")).toString() != QLatin1String("ping"))
        return false;
    QJsonObject params;
    const QJsonValue seq = ping.value(QLatin1String("params")).toObject().value(QLatin1String("seq"));
    if (seq.isDouble())
        params.insert(QStringLiteral("seq"), seq);
    QJsonObject pong;
    pong.insert(QStringLiteral("command"), QStringLiteral("pong"));
    pong.insert(QStringLiteral("params"), params);
    sendMessage(QJsonDocument(pong).toJson(QJsonDocument::Compact));
    return true;
}

void SealedPhoneLink::onSilence()
{
    if (m_closing)
        return;
    giveUp(QStringLiteral("Web client went silent for %1 s, connection dropped: %2")
               .arg(SilenceLimitMs / 1000)
               .arg(m_address));
}

void SealedPhoneLink::giveUp(const QString& why)
{
    qWarning().noquote() << why;
    // Frames that arrive from now on (TCP handing over what it held back) run nothing.
    m_silence->stop();
    closeSocket(CloseSilent);
    m_closing = true;
    emit disconnected();
}

void SealedPhoneLink::fail(const char* what)
{
    if (m_closing)
        return;
    // Says what and from where, never what the frame held.
    qWarning().noquote() << QStringLiteral("Web client sent %1 after %2 good frames, connection closed: %3")
                                .arg(QLatin1String(what))
                                .arg(m_seal->received())
                                .arg(m_address);
    closeSocket(CloseBadSeal);
}

void SealedPhoneLink::closeSocket(int closeCode)
{
    QObject::disconnect(m_socket, &WebSocketConnection::binaryMessageReceived, this, nullptr);
    QObject::disconnect(m_socket, &WebSocketConnection::textMessageReceived, this, nullptr);
    if (m_closeSent)
        return;
    m_closeSent = true;
    if (m_socket->state() != QAbstractSocket::UnconnectedState)
        m_socket->close(closeCode);
    QTimer::singleShot(CloseGraceMs, m_socket, [socket = m_socket] { socket->abort(); });
}

void SealedPhoneLink::closeAndRelease(int closeCode)
{
    m_closing = true;
    if (m_socket->state() == QAbstractSocket::UnconnectedState) {
        deleteLater();
        return;
    }
    // The close frame carries the reason; the link goes once the peer has answered it.
    connect(m_socket, &WebSocketConnection::disconnected, this, &QObject::deleteLater);
    closeSocket(closeCode);
}
