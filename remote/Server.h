#pragma once

#include "remote/LineFramer.h"
#include "remote/MediaStatus.h"
#include "remote/PhoneConsentAsker.h"

#include <QAbstractSocket>
#include <QHash>
#include <QObject>
#include <QQueue>
#include <QVector>

#include <functional>
#include <memory>
#include <optional>

class Clipboard;
class ClipboardCommands;
class InputBackend;
class InputSimulator;
class MediaPlayerLink;
class PhoneAccess;
class PhoneLink;
class Shell;
class SocketOwner;
class SystemVolume;
class VolumeCommands;
class QHostAddress;
class QJsonObject;
class QTcpServer;
class QTcpSocket;
class QTimer;

// The phone's way into the PC: listens for one phone at a time, reads one JSON command per
// line and runs it. Only the two listing commands are answered. A browser phone arrives over
// a WebSocket instead (one command per message, through a PhoneLink that seals them); it is
// the same one phone: whichever kind connects last displaces the other.
class Server : public QObject
{
    Q_OBJECT
public:
    explicit Server(QObject* parent = nullptr);
    // With a chosen input backend instead of the system's (tests, benchmarks).
    Server(std::unique_ptr<InputBackend> backend, QObject* parent);
    ~Server() override;

    bool start(quint16 port);
    void stop();
    bool isListening() const;
    // The port actually bound (useful after start(0)); 0 when not listening.
    quint16 serverPort() const;

    // Runs one message: parses it, then dispatches it or logs it as invalid. Every
    // transport feeds its messages through here.
    void handleMessage(const QByteArray& line);
    // Runs one parsed command.
    void handleCommand(const QJsonObject& object);
    // The object of one message, or nothing when it is not a JSON object. A repeated key is
    // refused before Qt's parser sees it (the parser leaks on it).
    static std::optional<QJsonObject> parseCommand(const QByteArray& line);
    // What the log shows of a command: typed text only as its length.
    static QJsonObject loggableCommand(const QJsonObject& object);

    InputSimulator* inputSimulator() const { return m_inputSimulator; }
    // Replaces the desktop shell that opens media and starts applications (tests).
    void setShell(std::unique_ptr<Shell> shell);
    // Replaces the link to the desktop's media players (tests). Without one, the system's own
    // is made when a phone first asks about or opens media.
    void setMediaPlayerLink(std::unique_ptr<MediaPlayerLink> link);
    // Replace the PC's volume control and clipboard (tests); the system's own are made when a
    // phone first uses them. `readAllowed` stands in for the user's setting.
    void setSystemVolume(std::unique_ptr<SystemVolume> volume);
    void setClipboard(std::unique_ptr<Clipboard> clipboard, std::function<bool()> readAllowed);
    // The shortest time between two "mediastatus" messages pushed to the phone.
    static constexpr int MediaStatusIntervalMs = 250;

    // Who may connect: the local-network rule, the user's consent for new phones and the
    // phones always allowed. Without it every connection is served (tests, benchmarks).
    // The access settings are shared, not owned; the asker is owned.
    void setAccess(PhoneAccess* access, std::unique_ptr<PhoneConsentAsker> asker);
    // The clock of the refusal hold, in milliseconds (tests).
    void setClock(std::function<qint64()> nowMs) { m_nowMs = std::move(nowMs); }
    // Loopback peers are this machine and need no consent; tests turn that off so that a
    // loopback phone stands in for one on the network.
    void setLoopbackTrusted(bool trusted) { m_loopbackTrusted = trusted; }
    // Finds who owns the other end of a loopback connection (tests); the system's by default.
    void setSocketOwner(std::unique_ptr<SocketOwner> owner);
    // After "Refuse", further connections from the address are closed unasked this long.
    static constexpr qint64 RefusalHoldMs = 60000;
    // A question nobody answers ends after this long, and its phone is turned away.
    static constexpr qint64 ConsentTimeoutMs = 60000;

    // Close codes a browser phone sees when the PC ends its connection.
    static constexpr int CloseGoingAway = 1001;      // the service stopped
    static constexpr int CloseTooMuchData = 1009;    // it sent faster than commands can run
    static constexpr int CloseServiceStopped = 4503; // the service is stopped right now
    static constexpr int CloseRevoked = 4401;        // its pairing token was revoked
    static constexpr int CloseReplaced = 4409;       // another phone took over

    // Takes a phone connected over an (authenticated) WebSocket and owns its link from now
    // on: each message runs as one command, and replies go back as messages. It displaces
    // the current phone like a new TCP phone does. While the server is stopped the link is
    // closed at once.
    void acceptWebSocket(PhoneLink* socket);
    // Ends the connection of a phone connected over a WebSocket, if there is one.
    void dropWebSocketPhone(int closeCode);

signals:
    void statusChanged(bool running);
    void clientConnected(QString clientInfo);
    void clientDisconnected();
    void logMessage(QString message);

private slots:
    void onNewConnection();
    void onSocketReadyRead();
    void onSocketDisconnected();
    void onSocketError(QAbstractSocket::SocketError socketError);

private:
    friend class tst_Server;

    // Drops the current phone of either kind; a WebSocket phone sees `webCloseCode`.
    void closeClientConnection(int webCloseCode = CloseGoingAway);
    bool hasPhone() const { return currentPhone() != nullptr; }
    // Makes `socket` the phone: the one-phone rule, then its commands run.
    void takePhone(QTcpSocket* socket);
    // Decides at accept whether `socket` becomes the phone now; otherwise it is closed, or
    // it waits for the user's answer without any of its commands running.
    bool admitNewcomer(QTcpSocket* socket);
    void askConsent(QTcpSocket* socket, const QString& address, bool otherUser, qint64 now);
    // Whether the loopback peer of `socket` is a program of the user this process runs as.
    bool isOwnUsersConnection(QTcpSocket* socket);
    // Turns the waiting phone away once its question is older than ConsentTimeoutMs.
    void expireConsentQuestion(qint64 now);
    void onConsentAnswer(quint64 question, PhoneConsentAsker::Answer answer);
    void onWaitingPhoneGone(QTcpSocket* socket);
    // Ends the wait of the phone that waits for an answer, withdrawing the question.
    void dropWaitingPhone();
    void onPhoneForgotten(const QString& address);
    static void closeUnserved(QTcpSocket* socket);
    // The log line of a connection closed for speaking HTTP.
    static QString httpRefusal(const QHostAddress& peer);
    // Bytes from the phone waiting for consent: dropped, and the question withdrawn if it is
    // a browser.
    void onWaitingPhoneData(QTcpSocket* socket);
    QObject* currentPhone() const;
    // Drops the current phone, if any, to make room for `newcomer`.
    void displaceCurrentPhone(const QHostAddress& newcomer);
    void announcePhone(const QHostAddress& address, quint16 port);
    void announcePhoneGone();
    // Forgets the WebSocket phone and its queued messages; returns its socket.
    PhoneLink* releaseWebSocketPhone();
    // Runs the messages waiting, in arrival order: first those of phones that have gone, then
    // the complete lines of a TCP phone (reading more as needed) or the queued messages of a
    // WebSocket phone. After a time slice the event loop gets a turn before it goes on.
    void processInput();
    // Takes the next message; false when there is none yet, or when a TCP phone's line
    // outgrew the limit and the phone was dropped for it. `fromCurrentPhone` tells whether a
    // reply can go back to its sender.
    bool takeMessage(QByteArray* message, bool* fromCurrentPhone);
    bool hasPendingInput() const;
    void scheduleProcessing();
    // Keeps the complete messages of the current phone, which is about to go, so that they
    // still run; only a trailing partial line is dropped.
    void keepInputOfLeavingPhone();
    // Types the next part of a long text, for at most `budgetMs`; true once it is all typed
    // (and its key combination pressed).
    bool continueTyping(int budgetMs);
    // Drops what is left of the text being typed, logging how much.
    void endTyping();
    // While a text is typed: takes the next message and runs it at once unless it must wait
    // for the text (more text, closing a window), in which case it is kept back until the
    // text is done. True when a message ran.
    bool runBesideTyping();
    // A phone has gone: the buttons it holds are released once the messages it left behind
    // have run (a queued "mouseup" still lands where it should, a queued "mousedown" is not
    // left held).
    void phoneLeft();
    void releaseButtonsOfDepartedPhones();
    // Drops the current phone for a fault of its own, saying why in the log.
    void dropPhone(const QString& reason, int webCloseCode);
    void onWebSocketMessage(PhoneLink* socket, const QByteArray& message);
    void onWebSocketDisconnected(PhoneLink* socket);
    void closeWebSocket(PhoneLink* socket, int closeCode);
    // Builds a reply envelope and writes it as one line.
    void sendReply(const QString& command, const QJsonObject& body);
    // The one path of every reply to the current phone; `logged` false for replies that carry
    // what the log must not show.
    void writeReply(const QByteArray& line, bool logged = true);

    void handleMouseClick(const QJsonObject& params);
    void handleMouseButton(const QJsonObject& params, bool down);
    void handleKeyInput(const QJsonObject& params);
    void handleMediaExplore(const QJsonObject& params);
    void handleMediaOpen(const QJsonObject& params);
    void handleAppExplore(const QJsonObject& params);
    void handleAppOpen(const QJsonObject& params);
    void handleCloseWindow();
    void handleMediaStatus();
    void handleMediaControl(const QJsonObject& params);
    // The media players; the system's own unless one was set.
    MediaPlayerLink* mediaPlayerLink();
    // The controlled player changed: the phone hears of it, spaced by the throttle.
    void onMediaPlayerChanged();
    void pushMediaStatus();
    // The desktop shell; the system's own unless one was set.
    Shell* shell();
    VolumeCommands* volumeCommands();
    void handleClipboard(const QString& command, const QJsonObject& params);

    QTcpServer* m_server = nullptr;
    QTcpSocket* m_clientSocket = nullptr;
    InputSimulator* m_inputSimulator = nullptr;
    std::unique_ptr<Shell> m_shell;
    std::unique_ptr<MediaPlayerLink> m_mediaPlayers;
    std::unique_ptr<VolumeCommands> m_volume;
    std::unique_ptr<ClipboardCommands> m_clipboard;
    MediaArt m_mediaArt;
    PushThrottle m_mediaStatusThrottle{MediaStatusIntervalMs};
    QTimer* m_mediaStatusTimer = nullptr; // a push waiting for the throttle
    LineFramer m_buffer;
    int m_port = 0;
    PhoneLink* m_webSocket = nullptr; // the current phone when it came over a WebSocket
    QQueue<QByteArray> m_webMessages; // its messages not run yet
    qint64 m_webQueuedBytes = 0;
    // Complete messages of phones that have gone (closed, reset or displaced), not run yet.
    QQueue<QByteArray> m_leftover;
    qint64 m_leftoverBytes = 0;
    // A "keyinput" whose text is typed over several turns of the event loop; later messages
    // wait for it.
    struct TypingJob
    {
        QString text;
        int next = 0;      // first UTF-16 unit not typed yet
        QVector<int> keys; // the combination pressed after the text
    };
    std::optional<TypingJob> m_typing;
    // Typing goes in parts this long, with a turn of the event loop after each, so that a
    // pointer move sent meanwhile runs between two parts.
    static constexpr int TypingPartMs = 10;
    // A message that came while a text was typed and waits for the text to be done.
    std::optional<QByteArray> m_afterText;
    bool m_afterTextFromCurrentPhone = true;
    // Leftover messages queued and run so far, and the counts of queued ones after which a
    // departed phone has nothing left to run.
    qint64 m_leftoverQueued = 0;
    qint64 m_leftoverRun = 0;
    QQueue<qint64> m_releaseAfter;
    bool m_replyToSender = true; // false while a message of a phone that has gone runs
    bool m_processing = false;
    bool m_continueScheduled = false;

    PhoneAccess* m_access = nullptr;
    std::unique_ptr<PhoneConsentAsker> m_asker;
    std::function<qint64()> m_nowMs;
    bool m_loopbackTrusted = true;
    QTcpSocket* m_waitingSocket = nullptr; // connected, waiting for the user's answer
    QString m_waitingAddress;
    quint64 m_question = 0; // tells a late answer to an earlier question apart
    QHash<QString, qint64> m_refusedUntil;
    bool m_waitingIsOtherUser = false; // the waiting phone is another user's program on this PC
    qint64 m_questionDeadline = 0;
    QTimer* m_consentExpiry = nullptr;
    std::unique_ptr<SocketOwner> m_socketOwner;
};
