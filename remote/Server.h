#pragma once

#include "remote/CommandHandler.h"
#include "remote/PhoneGate.h"
#include "remote/PhoneSession.h"
#include "remote/PlayerHandler.h"

#include <QObject>

#include <functional>
#include <memory>
#include <optional>

class ClipboardHandler;
class Clipboard;
class CommandTable;
class DesktopLinks;
class FileHandler;
class InputBackend;
class InputSimulator;
class MediaPlayerLink;
class PhoneAccess;
class PhoneConsentAsker;
class PhoneFiles;
class PhoneLink;
class QHostAddress;
class Shell;
class SocketOwner;
class SystemVolume;
class TextTyper;
class VolumeHandler;
class QJsonObject;

// The phone's way into the PC: listens for one phone at a time, reads one JSON command per
// line and runs it. Only the listing and status commands are answered. A browser phone arrives
// over a WebSocket instead (one command per message, through a PhoneLink that seals them); it
// is the same one phone: whichever kind connects last displaces the other.
//
// A composition: the PhoneGate listens and admits, the PhoneSession frames, queues and
// answers, and the CommandTable routes each command to the handler of its area.
class Server : public QObject, private CommandContext
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
    // Where files from the phone go and files for it are served (the web server's side); not
    // owned, and it must outlive the server. Without it the file commands do nothing.
    void setPhoneFiles(PhoneFiles* files);
    // Offers the file at `path` to the current phone when it came over TCP (a browser gets its
    // offers over its own channel); false when there is no such phone or the file cannot be read.
    bool offerFile(const QString& path);
    // The shortest time between two "mediastatus" messages pushed to the phone.
    static constexpr int MediaStatusIntervalMs = PlayerHandler::MediaStatusIntervalMs;

    // Who may connect: the local-network rule, the user's consent for new phones and the
    // phones always allowed. Without it every connection is served (tests, benchmarks).
    // The access settings are shared, not owned; the asker is owned.
    void setAccess(PhoneAccess* access, std::unique_ptr<PhoneConsentAsker> asker);
    // The clock of the refusal hold, in milliseconds (tests).
    void setClock(std::function<qint64()> nowMs);
    // Loopback peers are this machine and need no consent; tests turn that off so that a
    // loopback phone stands in for one on the network.
    void setLoopbackTrusted(bool trusted);
    // Finds who owns the other end of a loopback connection (tests); the system's by default.
    void setSocketOwner(std::unique_ptr<SocketOwner> owner);
    // After "Refuse", further connections from the address are closed unasked this long.
    static constexpr qint64 RefusalHoldMs = PhoneGate::RefusalHoldMs;
    // A question nobody answers ends after this long, and its phone is turned away.
    static constexpr qint64 ConsentTimeoutMs = PhoneGate::ConsentTimeoutMs;
    // While another new phone waits, a question gives way after this long.
    static constexpr qint64 QuestionTurnMs = PhoneGate::QuestionTurnMs;
    static constexpr int MaxWaitingForTurn = PhoneGate::MaxWaitingForTurn;

    // Close codes a browser phone sees when the PC ends its connection.
    static constexpr int CloseGoingAway = PhoneSession::CloseGoingAway;     // the service stopped
    static constexpr int CloseTooMuchData = PhoneSession::CloseTooMuchData; // it sent too fast
    static constexpr int CloseServiceStopped = 4503;                  // the service is stopped right now
    static constexpr int CloseRevoked = 4401;                         // its pairing token was revoked
    static constexpr int CloseReplaced = PhoneSession::CloseReplaced; // another phone took over

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

private:
    friend class tst_Server;

    // CommandContext: what the handlers reach of the server.
    void reply(const QString& command, const QJsonObject& body) override;
    void logActivity(const QString& text) override;
    bool hasPhone() const override;
    Reply laterReply() override;
    const void* sender() const override;
    QHostAddress senderAddress() const override;
    // Builds a reply envelope and writes it to the phone that sent the command being run.
    void sendReply(const QString& command, const QJsonObject& body);

    InputSimulator* m_inputSimulator = nullptr;
    std::unique_ptr<TextTyper> m_typer;
    DesktopLinks* m_desktop = nullptr;
    std::unique_ptr<CommandTable> m_commands;
    VolumeHandler* m_volume = nullptr;       // in m_commands
    ClipboardHandler* m_clipboard = nullptr; // in m_commands
    FileHandler* m_files = nullptr;          // in m_commands
    PhoneSession* m_session = nullptr;
    PhoneGate* m_gate = nullptr;
    int m_port = 0;
};
