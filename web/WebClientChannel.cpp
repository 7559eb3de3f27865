#include "web/WebClientChannel.h"

#include "pairing/ConnectionAddresses.h"

#include "web/FileTransfer.h"
#include "web/HostCheck.h"
#include "web/HttpRequestParser.h"
#include "web/HttpServer.h"
#include "web/SealedChannel.h"
#include "web/SealedPhoneLink.h"
#include "web/WebSocketConnection.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QHostAddress>
#include <QHostInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageAuthenticationCode>
#include <QPointer>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <array>

namespace {

// The service cannot take a phone right now. An application code (pages know it; 1013 is newer).
constexpr int kCloseServiceUnavailable = 4503;
// Too many browsers from one address are proving themselves at once; it may try again later.
constexpr int kCloseTooManyUnanswered = 4429;

QString envelope(const QString& command, const QJsonObject& params)
{
    QJsonObject object;
    object.insert(QStringLiteral("command"), command);
    object.insert(QStringLiteral("params"), params);
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

// One text for an address whether it came in over IPv4 or as an IPv4-mapped IPv6 address,
// so that a guesser cannot double its allowance by switching families.
QString addressKey(const QHostAddress& address)
{
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4).toString() : address.toString();
}

// A browser names the page that opens the socket in "Origin"; it must be a page this server
// gave out: plain http, one of this PC's names, and the very host and port the request was
// sent to, so that neither another site the phone visits nor a name pointed at this PC can use
// a token it learnt. Clients that are not browsers send no Origin at all: the token alone
// decides for them.
bool originAllowed(const HttpRequest& request, HostCheck& hosts, const QHostAddress& local)
{
    const QByteArray origin = request.headerValue("Origin");
    if (origin.isEmpty())
        return true;
    QString originName, hostName;
    int originPort = -1, hostPort = -1;
    if (!HostCheck::splitOrigin(origin, &originName, &originPort) ||
        !HostCheck::splitHost(request.headerValue("Host"), &hostName, &hostPort))
        return false;
    return originName == hostName && (originPort < 0 ? 80 : originPort) == (hostPort < 0 ? 80 : hostPort) &&
           hosts.isOwnName(originName, local);
}

} // namespace

WebClientChannel::WebClientChannel(TokenSource token, QObject* parent)
    : WebClientChannel(std::move(token), AuthThrottle::Policy(), parent)
{
}

WebClientChannel::WebClientChannel(TokenSource token, const AuthThrottle::Policy& policy, QObject* parent)
    : QObject(parent)
    , m_token(std::move(token))
    , m_throttle(policy)
    , m_hostCheck(std::make_shared<HostCheck>())
{
    m_clock.start();
}

WebClientChannel::~WebClientChannel() = default;

void WebClientChannel::attachTo(HttpServer* server)
{
    m_hostCheck = server->hostCheck();
    QPointer<WebClientChannel> self(this);
    server->setUpgradeHandler([self](QTcpSocket* socket, const QByteArray& request) {
        if (self) {
            self->handleUpgrade(socket, request);
        } else {
            socket->abort();
            socket->deleteLater();
        }
    });
}

void WebClientChannel::setFileTransfer(FileTransfer* transfer)
{
    m_fileTransfer = transfer;
}

void WebClientChannel::handleUpgrade(QTcpSocket* socket, const QByteArray& request)
{
    socket->setParent(this);
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
        release(socket);
        socket->deleteLater();
    });
    if (socket->state() != QAbstractSocket::ConnectedState) {
        socket->deleteLater();
        return;
    }

    const QString address = addressKey(socket->peerAddress());
    const qint64 hold = m_throttle.holdFor(address, m_clock.elapsed());
    if (hold <= 0) {
        evaluate(socket, request, address);
        return;
    }
    // The hold comes before the token is even looked at, so parallel guesses do not help:
    // only a few may wait, the rest are turned away unread. Strangers holding many attempts
    // make room for an address that holds fewer.
    QTcpSocket* evicted = nullptr;
    const auto verdict = m_held.admit(address, &evicted);
    if (verdict == AddressQuota<QTcpSocket*>::Verdict::Refuse) {
        qDebug().noquote() << "Web client attempt turned away while its address is held back:" << address;
        refuse(socket, 429, QStringLiteral("Too Many Requests"));
        return;
    }
    if (verdict == AddressQuota<QTcpSocket*>::Verdict::AdmitAfterEvicting) {
        qDebug().noquote() << "Web client attempt from" << address << "takes the place of one held from"
                           << m_held.addressOf(evicted);
        m_held.remove(evicted);
        refuse(evicted, 429, QStringLiteral("Too Many Requests"));
    }
    qDebug().noquote() << "Web client attempt from" << address << "held for" << hold << "ms";
    m_held.add(address, socket);
    // Whatever the peer sends meanwhile stays bounded.
    socket->setReadBufferSize(HttpRequestParser::MaxHeadBytes);
    QTimer::singleShot(hold, socket, [this, socket, request, address] {
        if (m_held.remove(socket)) // not turned away meanwhile
            evaluate(socket, request, address);
    });
}

void WebClientChannel::release(QTcpSocket* socket)
{
    m_held.remove(socket);
}

void WebClientChannel::evaluate(QTcpSocket* socket, const QByteArray& request, const QString& address)
{
    if (socket->state() != QAbstractSocket::ConnectedState) {
        socket->deleteLater();
        return;
    }
    HttpRequest parsed;
    if (HttpRequestParser::parse(request, &parsed) != HttpRequestParser::Result::Complete) {
        refuse(socket, 400, QStringLiteral("Bad Request"));
        return;
    }
    if (!originAllowed(parsed, *m_hostCheck, socket->localAddress())) {
        qWarning() << "Web client refused: foreign origin"
                   << QString::fromLatin1(parsed.headerValue("Origin").left(80)) << "from"
                   << qPrintable(address);
        refuse(socket, 403, QStringLiteral("Forbidden"));
        return;
    }
    if (!m_phoneHandler || !m_token) {
        refuse(socket, 503, QStringLiteral("Service Unavailable"));
        return;
    }
    upgrade(socket, parsed);
}

void WebClientChannel::refuse(QTcpSocket* socket, int status, const QString& message)
{
    socket->write(HttpServer::errorResponse(status, message, "Connection: close\r\n"));
    // Closes once the answer is out; a peer that does not read it is cut off.
    socket->disconnectFromHost();
    if (socket->state() == QAbstractSocket::UnconnectedState) {
        socket->deleteLater();
        return;
    }
    QTimer::singleShot(RefusalLingerMs, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
}

void WebClientChannel::upgrade(QTcpSocket* socket, const HttpRequest& parsed)
{
    const std::optional<QByteArray> answer = WebSocketFrames::handshakeAnswer(parsed);
    if (!answer) {
        refuse(socket, 400, QStringLiteral("Bad Request"));
        return;
    }
    socket->disconnect(this);
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    socket->write(*answer);
    // What the page sent right behind its handshake is its first frames.
    challenge(new WebSocketConnection(socket, MaxMessageBytes, parsed.body, this));
}

void WebClientChannel::challenge(WebSocketConnection* socket)
{
    const QString address = addressKey(socket->peerAddress());
    WebSocketConnection* evicted = nullptr;
    const auto verdict = m_unansweredShares.admit(address, &evicted);
    if (verdict == AddressQuota<WebSocketConnection*>::Verdict::Refuse) {
        qDebug().noquote() << "Web client turned away, too many unanswered challenges from" << address;
        socket->close(kCloseTooManyUnanswered);
        socket->deleteLater();
        return;
    }
    if (verdict == AddressQuota<WebSocketConnection*>::Verdict::AdmitAfterEvicting) {
        // An honest browser answers within moments; the longest silent of the address
        // holding the most makes room.
        qDebug().noquote() << "Web client from" << address << "takes the place of an unanswered one from"
                           << m_unanswered.value(evicted).address;
        closeUnanswered(evicted, kCloseTooManyUnanswered);
    }
    m_unanswered.insert(socket, {newChallenge(), address});
    m_unansweredShares.add(address, socket);
    connect(socket, &WebSocketConnection::textMessageReceived, this,
            [this, socket](const QString& message) { onAnswer(socket, message); });
    connect(socket, &WebSocketConnection::binaryMessageReceived, this,
            [this, socket](const QByteArray&) { onAnswer(socket, QString()); });
    connect(socket, &WebSocketConnection::disconnected, this, [this, socket] {
        forgetUnanswered(socket);
        socket->deleteLater();
    });
    QTimer::singleShot(AnswerTimeoutMs, socket, [this, socket] {
        if (m_unanswered.contains(socket)) {
            qDebug().noquote() << "Web client gave no answer in time:" << m_unanswered.value(socket).address;
            closeUnanswered(socket, CloseNoAnswer);
        }
    });
    sendChallenge(socket);
}

void WebClientChannel::sendChallenge(WebSocketConnection* socket)
{
    QJsonObject params;
    params.insert(QStringLiteral("challenge"), QString::fromLatin1(m_unanswered.value(socket).challenge));
    // Tells a page that it will be sealed; one that expects otherwise knows where it stands.
    params.insert(QStringLiteral("version"), SealedChannel::Version);
    socket->sendTextMessage(envelope(QStringLiteral("challenge"), params));
}

void WebClientChannel::onAnswer(WebSocketConnection* socket, const QString& message)
{
    const auto found = m_unanswered.constFind(socket);
    if (found == m_unanswered.cend())
        return;
    const Unanswered pending = *found;
    forgetUnanswered(socket);
    // The first message must be the answer; whatever else comes first counts as a wrong one.
    const SealedChannel::Answer parsed = SealedChannel::parseAnswer(message.toUtf8());
    const QString token = m_token();
    if (parsed.answer.isEmpty() || token.isEmpty() ||
        !sameAnswer(challengeAnswer(token, pending.challenge), parsed.answer)) {
        m_throttle.recordFailure(pending.address, m_clock.elapsed());
        qWarning().noquote() << "Web client refused:"
                             << (parsed.answer.isEmpty() ? "no pairing token" : "wrong pairing token")
                             << "from" << pending.address;
        closeUnanswered(socket, CloseWrongAnswer);
        return;
    }
    m_throttle.recordSuccess(pending.address);
    // A page cached from before sealing would go on in clear; it is told to reload instead.
    if (parsed.version != SealedChannel::Version || parsed.pageRandom.isEmpty()) {
        qWarning().noquote() << "Web client refused: its page speaks protocol" << parsed.version
                             << "instead of" << SealedChannel::Version << "and must be reloaded, from"
                             << pending.address;
        closeUnanswered(socket, CloseOutdatedClient);
        return;
    }
    QObject::disconnect(socket, nullptr, this, nullptr);
    socket->setParent(nullptr);
    auto* link = new SealedPhoneLink(
        socket, SealedChannel::deriveKey(token, QByteArray::fromHex(pending.challenge), parsed.pageRandom));
    // The first sealed frame: the page learns that the PC holds the token too.
    QJsonObject paired;
    paired.insert(QStringLiteral("version"), SealedChannel::Version);
    paired.insert(QStringLiteral("heartbeat"), true); // the link answers pings (pages may rely on it)
    // Where else the page may find this PC should its address change.
    paired.insert(QStringLiteral("host"), QHostInfo::localHostName());
    QJsonArray addresses;
    for (const ConnectionAddress& address :
         collectConnectionAddresses(systemNetworkAdapters(), systemAddresses()))
        addresses.append(address.first);
    paired.insert(QStringLiteral("addresses"), addresses);
    link->sendMessage(envelope(QStringLiteral("paired"), paired).toUtf8());
    if (m_fileTransfer)
        m_fileTransfer->setLink(link);
    link->setLocalHandler([transfer = m_fileTransfer](const QByteArray& frame, PhoneLink* from) {
        return transfer && transfer->handleMessage(frame, from);
    });
    if (m_phoneHandler)
        m_phoneHandler(link);
    else
        link->closeAndRelease(kCloseServiceUnavailable);
}

bool WebClientChannel::forgetUnanswered(WebSocketConnection* socket)
{
    const auto found = m_unanswered.find(socket);
    if (found == m_unanswered.end())
        return false;
    m_unanswered.erase(found);
    m_unansweredShares.remove(socket);
    return true;
}

void WebClientChannel::closeUnanswered(WebSocketConnection* socket, int closeCode)
{
    forgetUnanswered(socket);
    QObject::disconnect(socket, nullptr, this, nullptr);
    socket->close(closeCode);
    // The close frame carries the reason; the socket goes once the peer has answered it.
    connect(socket, &WebSocketConnection::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(RefusalLingerMs, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
}

QByteArray WebClientChannel::newChallenge()
{
    std::array<quint32, ChallengeBytes / sizeof(quint32)> words{};
    QRandomGenerator::system()->fillRange(words.data(), static_cast<qsizetype>(words.size()));
    return QByteArray(reinterpret_cast<const char*>(words.data()), ChallengeBytes).toHex();
}

QString WebClientChannel::challengeAnswer(const QString& token, const QByteArray& challenge)
{
    return QString::fromLatin1(
        QMessageAuthenticationCode::hash(challenge, token.toUtf8(), QCryptographicHash::Sha256).toHex());
}

bool WebClientChannel::sameAnswer(const QString& expected, const QString& given)
{
    const QByteArray a = expected.toUtf8();
    const QByteArray b = given.toUtf8();
    // The length of an answer is no secret; only its content is compared without shortcuts.
    if (a.size() != b.size())
        return false;
    unsigned char difference = 0;
    for (int i = 0; i < a.size(); ++i)
        difference |= static_cast<unsigned char>(a.at(i) ^ b.at(i));
    return difference == 0;
}
