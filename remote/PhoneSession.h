#pragma once

#include "remote/DepartedInput.h"
#include "remote/PhoneLineReader.h"

#include <QAbstractSocket>
#include <QObject>
#include <QQueue>

#include <functional>
#include <optional>

class PhoneLink;
class QHostAddress;
class QTcpSocket;
class QTimer;
class TextTyper;

// The one phone being served, over TCP (one message per line) or a WebSocket (one per
// message, through a PhoneLink): whichever kind arrives last displaces the other. Runs the
// messages strictly in arrival order, those a departed phone left behind first, in time slices
// that give the event loop a turn, beside the text being typed; sends replies back to the
// phone that asked. What a message means is not its business: each goes to the runner.
class PhoneSession : public QObject
{
    Q_OBJECT
public:
    // Close codes a browser phone sees when the PC ends its connection.
    static constexpr int CloseGoingAway = 1001;   // the service stopped
    static constexpr int CloseTooMuchData = 1009; // it sent faster than commands can run
    static constexpr int CloseReplaced = 4409;    // another phone took over

    using Runner = std::function<void(const QByteArray& message)>;
    // `run` runs one message; `typer` (may be null) types long texts between messages;
    // `releaseButtons` releases what departed phones held, once their messages have run.
    PhoneSession(Runner run, TextTyper* typer, std::function<void()> releaseButtons,
                 QObject* parent = nullptr);
    ~PhoneSession() override = default;

    // Makes `socket` the phone, displacing the current one.
    void takePhone(QTcpSocket* socket);
    // Makes the WebSocket phone behind `socket` the phone, displacing the current one, and
    // owns the link from now on.
    void acceptWebSocket(PhoneLink* socket);
    // Ends the connection of a WebSocket phone, if there is one.
    void dropWebSocketPhone(int closeCode);
    // Drops the current TCP phone if it connected from `address` (a peerAddressKey).
    void dropPhoneFrom(const QString& address, const QString& reason);
    bool hasPhone() const { return currentPhone() != nullptr; }
    // Drops the current phone of either kind, silently; a WebSocket phone sees `webCloseCode`.
    void closeClientConnection(int webCloseCode = CloseGoingAway);
    // The service stopped: the phone goes, and nothing more runs, not even what phones left
    // behind; nothing stays held.
    void stop();

    // The one path of every reply to the current phone: `line` is one reply, framed as a
    // line (a WebSocket phone gets it as one message, without the line feed).
    // `logged` is what the log shows of it.
    void writeReply(const QByteArray& line, const QByteArray& logged);
    // The phone a reply to the message being run goes to; null when its sender has gone.
    const QObject* replyTarget() const { return m_replyToSender ? currentPhone() : nullptr; }
    // Its address; null when its sender has gone.
    QHostAddress replyTargetAddress() const;
    // The address of the current phone when it came over TCP; null otherwise.
    QHostAddress tcpPhoneAddress() const;
    // A reply that comes later: it goes to `phone` only while that is still the current phone,
    // and the log shows only its size (such replies may carry what the log must not show).
    void writeLaterReply(const QObject* phone, const QByteArray& line);

signals:
    void clientConnected(QString clientInfo);
    void clientDisconnected();
    void logMessage(QString message);

private slots:
    void onSocketReadyRead();
    void onSocketDisconnected();
    void onSocketError(QAbstractSocket::SocketError socketError);

private:
    QObject* currentPhone() const;
    // Writes one reply to the current phone.
    void send(const QByteArray& line);
    // Gives the heap's free memory back to the system once the reply being sent has gone.
    void releaseMemoryOnceSent();
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
    // While a text is typed: takes the next message and runs it at once unless it must wait
    // for the text (more text, closing a window), in which case it is kept back until the
    // text is done. True when a message ran.
    bool runBesideTyping();
    void run(const QByteArray& message, bool fromCurrentPhone);
    bool isTyping() const;
    void endTyping();
    // A phone has gone: the buttons it holds are released once the messages it left behind
    // have run (a queued "mouseup" still lands where it should, a queued "mousedown" is not
    // left held).
    void phoneLeft();
    // Drops the current phone for a fault of its own, saying why in the log.
    void dropPhone(const QString& reason, int webCloseCode);
    void onWebSocketMessage(PhoneLink* socket, const QByteArray& message);
    void onWebSocketDisconnected(PhoneLink* socket);
    void closeWebSocket(PhoneLink* socket, int closeCode);

    Runner m_run;
    TextTyper* m_typer;
    std::function<void()> m_releaseButtons;
    QTcpSocket* m_clientSocket = nullptr;
    PhoneLineReader m_lines;
    PhoneLink* m_webSocket = nullptr; // the current phone when it came over a WebSocket
    QQueue<QByteArray> m_webMessages; // its messages not run yet
    qint64 m_webQueuedBytes = 0;
    DepartedInput m_departed;
    // A message that came while a text was typed and waits for the text to be done.
    std::optional<QByteArray> m_afterText;
    bool m_afterTextFromCurrentPhone = true;
    bool m_replyToSender = true; // false while a message of a phone that has gone runs
    bool m_processing = false;
    bool m_continueScheduled = false;
    QTimer* m_releaseTimer = nullptr;
};
