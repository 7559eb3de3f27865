#pragma once

#include "web/AuthThrottle.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QString>

#include <functional>

class HttpServer;
class QTcpSocket;
class QWebSocket;
class QWebSocketServer;

// The browser's live channel on the HTTP server's port: takes the "/ws" upgrade requests
// the HTTP server hands over, refuses those without the pairing token before the protocol
// is switched (so no command is ever read from them), slows down addresses that keep
// guessing, and lets Qt WebSockets complete the handshake and the framing of the rest.
// Each accepted socket goes to the phone handler, which then owns it.
class WebClientChannel final : public QObject
{
    Q_OBJECT
public:
    // Whether a presented token is the pairing token.
    using TokenCheck = std::function<bool(const QString& token)>;
    // Takes an open WebSocket (parentless) and owns it from then on.
    using PhoneHandler = std::function<void(QWebSocket* socket)>;

    // One command object is a few hundred bytes; a frame or message beyond this is refused.
    static constexpr quint64 MaxMessageBytes = 64 * 1024;
    // Attempts from one address held at once; a further one is turned away unread.
    static constexpr int MaxHeldPerAddress = 2;
    // Attempts held at once over all addresses.
    static constexpr int MaxHeld = 64;
    // A refusal the peer does not read is cut off after this.
    static constexpr int RefusalLingerMs = 5000;

    explicit WebClientChannel(TokenCheck tokenCheck, QObject* parent = nullptr);
    WebClientChannel(TokenCheck tokenCheck, const AuthThrottle::Policy& policy, QObject* parent);
    ~WebClientChannel() override;

    // Without a handler every upgrade is refused with 503.
    void setPhoneHandler(PhoneHandler handler) { m_phoneHandler = std::move(handler); }
    // Makes this channel the server's upgrade handler for as long as both exist.
    void attachTo(HttpServer* server);
    // The upgrade hand-off: `socket` (parentless, now owned here) asked to switch to the
    // WebSocket protocol with the request `request` (all bytes read from it so far).
    void handleUpgrade(QTcpSocket* socket, const QByteArray& request);

    const AuthThrottle& throttle() const { return m_throttle; }
    // Attempts currently held back.
    int heldCount() const { return m_heldSockets.size(); }

private:
    void evaluate(QTcpSocket* socket, const QByteArray& request, const QString& address);
    void release(QTcpSocket* socket);
    void refuse(QTcpSocket* socket, int status, const QString& message);
    void upgrade(QTcpSocket* socket, const QByteArray& request);
    void onNewWebSocket();

    TokenCheck m_tokenCheck;
    PhoneHandler m_phoneHandler;
    AuthThrottle m_throttle;
    QElapsedTimer m_clock;
    QWebSocketServer* m_webSockets = nullptr;
    QHash<QTcpSocket*, QString> m_heldSockets; // held attempt → its address
    QHash<QString, int> m_heldPerAddress;
};
