#pragma once

#include "web/AddressQuota.h"
#include "web/AuthThrottle.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class FileTransfer;
class HostCheck;
class HttpServer;
struct HttpRequest;
class PhoneLink;
class QTcpSocket;
class WebSocketConnection;

// The browser's live channel on the HTTP server's port: takes the "/ws" upgrade requests the
// HTTP server hands over and completes their handshake. The browser then
// proves that it holds the pairing token without ever sending it: the first message is a
// fresh random challenge, and the only message taken in return is the HMAC-SHA-256 of that
// challenge keyed by the token. Until then no command is read and the phone is left alone.
// Addresses that keep answering wrongly are slowed down before their next handshake. A
// proven browser gets a sealed link (see SealedChannel.h), keyed from the token and both
// sides' random values, which goes to the phone handler; the handler then owns it.
class WebClientChannel final : public QObject
{
    Q_OBJECT
public:
    // The pairing token as it is now; read at each answer, so a new token counts at once.
    using TokenSource = std::function<QString()>;
    // Takes a proven browser's link (parentless) and owns it from then on.
    using PhoneHandler = std::function<void(PhoneLink* link)>;

    // One command object is a few hundred bytes; a frame or message beyond this is refused.
    static constexpr quint64 MaxMessageBytes = 64 * 1024;
    // Attempts from one address held at once; a further one is turned away unread.
    static constexpr int MaxHeldPerAddress = 2;
    // Attempts held at once over all addresses (an address holding fewer than another may
    // still take one of its places).
    static constexpr int MaxHeld = 64;
    // A refusal the peer does not read is cut off after this.
    static constexpr int RefusalLingerMs = 5000;
    // Random bytes of a challenge (sent as lowercase hex).
    static constexpr int ChallengeBytes = 32;
    // Sockets waiting for their answer, per address and in all; more are refused unopened,
    // except that an address holding fewer than another takes the oldest place of that one.
    static constexpr int MaxUnansweredPerAddress = 4;
    static constexpr int MaxUnanswered = 64;
    // A browser that has not answered by then is closed (it may try again).
    static constexpr int AnswerTimeoutMs = 10000;
    // Close codes of the challenge: a wrong answer, and none in time.
    static constexpr int CloseWrongAnswer = 4401;
    static constexpr int CloseNoAnswer = 4408;
    // The page speaks another version of the handshake (one cached from before sealing):
    // it must be reloaded. A frame that does not open closes with SealedPhoneLink::CloseBadSeal.
    static constexpr int CloseOutdatedClient = 4426;

    explicit WebClientChannel(TokenSource token, QObject* parent = nullptr);
    WebClientChannel(TokenSource token, const AuthThrottle::Policy& policy, QObject* parent);
    ~WebClientChannel() override;

    // Without a handler every upgrade is refused with 503.
    void setPhoneHandler(PhoneHandler handler) { m_phoneHandler = std::move(handler); }
    // File commands of proven browsers go here rather than to the phone handler; it may be
    // deleted before the channel.
    void setFileTransfer(FileTransfer* transfer);
    // Makes this channel the server's upgrade handler for as long as both exist; origins are
    // checked against the server's host names from then on.
    void attachTo(HttpServer* server);
    // The upgrade hand-off: `socket` (parentless, now owned here) asked to switch to the
    // WebSocket protocol with the request `request` (all bytes read from it so far).
    void handleUpgrade(QTcpSocket* socket, const QByteArray& request);

    const AuthThrottle& throttle() const { return m_throttle; }
    // Attempts currently held back.
    int heldCount() const { return m_held.size(); }
    // Open sockets that have not answered their challenge yet.
    int unansweredCount() const { return m_unanswered.size(); }

    // A fresh challenge: ChallengeBytes from the system's secure random source, as hex.
    static QByteArray newChallenge();
    // The answer a browser holding `token` gives to `challenge`: lowercase hex of
    // HMAC-SHA-256 with the token's text as the key and the challenge's text as the message.
    static QString challengeAnswer(const QString& token, const QByteArray& challenge);
    // Compares two answers in a time that does not depend on where they differ.
    static bool sameAnswer(const QString& expected, const QString& given);

private:
    void evaluate(QTcpSocket* socket, const QByteArray& request, const QString& address);
    void release(QTcpSocket* socket);
    void refuse(QTcpSocket* socket, int status, const QString& message);
    void upgrade(QTcpSocket* socket, const HttpRequest& request);
    void challenge(WebSocketConnection* socket);
    void sendChallenge(WebSocketConnection* socket);
    void onAnswer(WebSocketConnection* socket, const QString& message);
    // Forgets an unanswered socket; true when it was one.
    bool forgetUnanswered(WebSocketConnection* socket);
    void closeUnanswered(WebSocketConnection* socket, int closeCode);

    struct Unanswered
    {
        QByteArray challenge;
        QString address;
    };

    TokenSource m_token;
    PhoneHandler m_phoneHandler;
    QPointer<FileTransfer> m_fileTransfer;
    AuthThrottle m_throttle;
    QElapsedTimer m_clock;
    std::shared_ptr<HostCheck> m_hostCheck;
    AddressQuota<QTcpSocket*> m_held{MaxHeldPerAddress, MaxHeld};
    QHash<WebSocketConnection*, Unanswered> m_unanswered;
    AddressQuota<WebSocketConnection*> m_unansweredShares{MaxUnansweredPerAddress,
                                                          MaxUnanswered}; // from the upgrade on
};
