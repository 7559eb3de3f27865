#include "web/WebClientChannel.h"

#include "web/HttpRequestParser.h"
#include "web/HttpServer.h"

#include <QDebug>
#include <QHostAddress>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>
#include <QWebSocket>
#include <QWebSocketServer>

namespace {

// The service cannot take a phone right now. An application code: Qt 5 rejects 1013.
constexpr auto kCloseServiceUnavailable = static_cast<QWebSocketProtocol::CloseCode>(4503);

// One text for an address whether it came in over IPv4 or as an IPv4-mapped IPv6 address,
// so that a guesser cannot double its allowance by switching families.
QString addressKey(const QHostAddress& address)
{
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4).toString() : address.toString();
}

int defaultPort(const QString& scheme)
{
    return scheme == QLatin1String("https") || scheme == QLatin1String("wss") ? 443 : 80;
}

// A browser names the page that opens the socket in "Origin"; it must be the page this
// server gave out, so that no other site the phone visits can use a token it learnt.
// Clients that are not browsers send no Origin at all: the token alone decides for them.
bool originAllowed(const HttpRequest& request)
{
    const QByteArray origin = request.headerValue("Origin");
    if (origin.isEmpty())
        return true;
    const QUrl originUrl(QString::fromUtf8(origin), QUrl::StrictMode);
    const QUrl hostUrl(QStringLiteral("http://") + QString::fromUtf8(request.headerValue("Host")),
                       QUrl::StrictMode);
    if (!originUrl.isValid() || !hostUrl.isValid() || originUrl.host().isEmpty())
        return false;
    return originUrl.host().compare(hostUrl.host(), Qt::CaseInsensitive) == 0 &&
           originUrl.port(defaultPort(originUrl.scheme())) == hostUrl.port(80);
}

QString presentedToken(const HttpRequest& request)
{
    const QUrl url(request.target, QUrl::TolerantMode);
    return QUrlQuery(url).queryItemValue(QStringLiteral("token"), QUrl::FullyDecoded);
}

} // namespace

WebClientChannel::WebClientChannel(TokenCheck tokenCheck, QObject* parent)
    : WebClientChannel(std::move(tokenCheck), AuthThrottle::Policy(), parent)
{
}

WebClientChannel::WebClientChannel(TokenCheck tokenCheck, const AuthThrottle::Policy& policy, QObject* parent)
    : QObject(parent)
    , m_tokenCheck(std::move(tokenCheck))
    , m_throttle(policy)
    , m_webSockets(new QWebSocketServer(QStringLiteral("Velmora"), QWebSocketServer::NonSecureMode, this))
{
    m_clock.start();
    // Never listens: the HTTP server owns the port and hands the sockets over.
    connect(m_webSockets, &QWebSocketServer::newConnection, this, &WebClientChannel::onNewWebSocket);
}

WebClientChannel::~WebClientChannel() = default;

void WebClientChannel::attachTo(HttpServer* server)
{
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
    // only a few may wait, the rest are turned away unread.
    if (m_heldPerAddress.value(address) >= MaxHeldPerAddress || m_heldSockets.size() >= MaxHeld) {
        qDebug().noquote() << "Web client attempt turned away while its address is held back:" << address;
        refuse(socket, 429, QStringLiteral("Too Many Requests"));
        return;
    }
    qDebug().noquote() << "Web client attempt from" << address << "held for" << hold << "ms";
    m_heldSockets.insert(socket, address);
    ++m_heldPerAddress[address];
    // Whatever the peer sends meanwhile stays bounded.
    socket->setReadBufferSize(HttpRequestParser::MaxHeadBytes);
    QTimer::singleShot(hold, socket, [this, socket, request, address] {
        release(socket);
        evaluate(socket, request, address);
    });
}

void WebClientChannel::release(QTcpSocket* socket)
{
    const auto found = m_heldSockets.find(socket);
    if (found == m_heldSockets.end())
        return;
    const QString address = *found;
    m_heldSockets.erase(found);
    if (--m_heldPerAddress[address] <= 0)
        m_heldPerAddress.remove(address);
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
    if (!originAllowed(parsed)) {
        qWarning().noquote() << "Web client refused: foreign origin"
                             << QString::fromUtf8(parsed.headerValue("Origin")) << "from" << address;
        refuse(socket, 403, QStringLiteral("Forbidden"));
        return;
    }
    const QString token = presentedToken(parsed);
    if (token.isEmpty() || !m_tokenCheck || !m_tokenCheck(token)) {
        m_throttle.recordFailure(address, m_clock.elapsed());
        qWarning().noquote() << "Web client refused:"
                             << (token.isEmpty() ? "no pairing token" : "wrong pairing token") << "from"
                             << address;
        refuse(socket, 401, QStringLiteral("Unauthorized"));
        return;
    }
    m_throttle.recordSuccess(address);
    if (!m_phoneHandler) {
        refuse(socket, 503, QStringLiteral("Service Unavailable"));
        return;
    }
    upgrade(socket, request);
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

void WebClientChannel::upgrade(QTcpSocket* socket, const QByteArray& request)
{
    socket->disconnect(this);
    socket->setReadBufferSize(0);
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    // The HTTP server has read the handshake already; Qt WebSockets reads it from the
    // socket, so the bytes go back in front of anything that arrived after them.
    for (int i = request.size(); i-- > 0;)
        socket->ungetChar(request.at(i));
    m_webSockets->handleConnection(socket);
}

void WebClientChannel::onNewWebSocket()
{
    while (QWebSocket* socket = m_webSockets->nextPendingConnection()) {
        socket->setMaxAllowedIncomingFrameSize(MaxMessageBytes);
        socket->setMaxAllowedIncomingMessageSize(MaxMessageBytes);
        socket->setParent(nullptr);
        if (m_phoneHandler) {
            m_phoneHandler(socket);
        } else {
            socket->close(kCloseServiceUnavailable);
            socket->deleteLater();
        }
    }
}
