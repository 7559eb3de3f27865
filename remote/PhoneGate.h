#pragma once

#include "remote/PhoneConsentAsker.h"

#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QTcpSocket>

#include <functional>
#include <memory>

class PhoneAccess;
class PhoneNewcomers;
class QTcpServer;
class QTimer;
class SocketOwner;

// The command port's listener and who may come in through it: the local-network rule, the
// owner of a connection from this machine, the user's consent for new phones (one question on
// screen at a time, the others waiting their turn; a hold after each question not allowed) and
// the phones always allowed. A TCP phone that gets in is handed over through phoneAdmitted(),
// once its first command line has come if another phone is being served. Browsers prove the
// pairing token instead and are admitted by their channel.
class PhoneGate : public QObject
{
    Q_OBJECT
public:
    // After "Refuse", further connections from the address are closed unasked this long.
    static constexpr qint64 RefusalHoldMs = 60000;
    // A question nobody answers ends after this long, and its phone is turned away and held
    // off like a refused one.
    static constexpr qint64 ConsentTimeoutMs = 60000;
    // While another new phone waits, a question stays on screen this long at least, then gives
    // way (its phone is held off like a refused one).
    static constexpr qint64 QuestionTurnMs = 15000;
    // New phones waiting behind the question on screen, at most.
    static constexpr int MaxWaitingForTurn = 8;

    explicit PhoneGate(QObject* parent = nullptr);
    ~PhoneGate() override;

    bool listen(quint16 port);
    // Stops listening; a phone waiting for an answer stays until dropWaitingPhone().
    void close();
    bool isListening() const;
    quint16 serverPort() const;
    QString errorString() const;

    // Without access settings every connection is admitted (tests, benchmarks). The settings
    // are shared, not owned; the asker is owned.
    void setAccess(PhoneAccess* access, std::unique_ptr<PhoneConsentAsker> asker);
    // The clock of the refusal hold and the question's deadline, in milliseconds (tests).
    void setClock(std::function<qint64()> nowMs) { m_nowMs = std::move(nowMs); }
    // Programs of this machine are judged by their owner; tests turn that off so that a
    // loopback phone stands in for one on the network.
    void setLoopbackTrusted(bool trusted) { m_loopbackTrusted = trusted; }
    // Finds who owns the other end of a loopback connection (tests); the system's by default.
    void setSocketOwner(std::unique_ptr<SocketOwner> owner);
    // Ends the wait of every phone that waits for an answer, withdrawing the question.
    void dropWaitingPhone();
    // Tells whether a phone is being served; a newcomer then waits for its first command line.
    void setPhonePresent(std::function<bool()> present) { m_phonePresent = std::move(present); }
    // The phone being served went: the newcomer that came last takes over.
    void onPhoneGone();

signals:
    // `socket` is the phone now; whoever takes it owns it.
    void phoneAdmitted(QTcpSocket* socket);
    // The user forgot the phone at `address` (a peerAddressKey): it may not stay.
    void phoneForgotten(const QString& address);

private slots:
    void onNewConnection();

private:
    // Who holds the other end of a connection.
    enum class Origin
    {
        Network,  // another machine
        OwnUser,  // a program of the user this process runs as, on this machine
        OtherUser // a program of another user here, or one whose owner cannot be found
    };
    // A new phone waiting for the user's answer, on screen or for its turn.
    struct Waiting
    {
        QTcpSocket* socket = nullptr;
        QString address;
        bool otherUser = false;
    };
    // Why an address is held off, and until when.
    struct Hold
    {
        qint64 until = 0;
        bool refused = false; // the user said no; otherwise its question ended unanswered
    };

    qint64 now() const;
    // Decides at accept whether `socket` becomes the phone now; otherwise it is closed, or
    // it waits for the user's answer without any of its commands running.
    bool admitNewcomer(QTcpSocket* socket);
    // Hands an admitted phone over, at once or after its first command line.
    void handOver(QTcpSocket* socket);
    Origin originOf(QTcpSocket* socket);
    // Whether `address` may ask now; logs and closes `socket` when it is held off.
    bool passesHold(QTcpSocket* socket, const QString& address, qint64 now);
    // Puts `waiting` in line, or on screen when nothing is asked.
    void enqueue(const Waiting& waiting, qint64 now);
    void askConsent(const Waiting& waiting, qint64 now);
    void watchWaitingPhone(QTcpSocket* socket);
    // Ends the question on screen when its time is up (or its turn, if another waits) and asks
    // the next; otherwise sets the timer for the moment that happens.
    void reviewQuestion(qint64 now);
    void askNext(qint64 now);
    void hold(const QString& address, qint64 now, bool refused);
    void onConsentAnswer(quint64 question, PhoneConsentAsker::Answer answer);
    void onWaitingPhoneGone(QTcpSocket* socket);
    // Bytes from a phone waiting for consent: dropped, and its wait ended if it is a browser.
    void onWaitingPhoneData(QTcpSocket* socket);
    // Ends the wait of `socket` (on screen or in line), closing it.
    void endWait(QTcpSocket* socket);
    // Closes the phone on screen and withdraws its question.
    void withdrawQuestion();
    static void closeUnserved(QTcpSocket* socket);

    QTcpServer* m_server = nullptr;
    PhoneAccess* m_access = nullptr;
    std::unique_ptr<PhoneConsentAsker> m_asker;
    std::function<qint64()> m_nowMs;
    std::function<bool()> m_phonePresent;
    bool m_loopbackTrusted = true;
    Waiting m_asked;        // the phone the question on screen is about; no socket when none
    QList<Waiting> m_line;  // the others, in order of arrival, one per address
    quint64 m_question = 0; // tells a late answer to an earlier question apart
    qint64 m_questionAskedAt = 0;
    qint64 m_questionDeadline = 0;
    QHash<QString, Hold> m_held;
    QTimer* m_consentExpiry = nullptr;
    std::unique_ptr<SocketOwner> m_socketOwner;
    PhoneNewcomers* m_newcomers = nullptr;
};
