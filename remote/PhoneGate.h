#pragma once

#include "remote/PhoneConsentAsker.h"

#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTcpSocket>

#include <functional>
#include <memory>

class PhoneAccess;
class QTcpServer;
class QTimer;
class SocketOwner;

// The command port's listener and who may come in through it: the local-network rule, the
// user's consent for new phones (one question at a time, with a refusal hold) and the phones
// always allowed. A TCP phone that gets in is handed over through phoneAdmitted(). Browsers
// prove the pairing token instead and are admitted by their channel.
class PhoneGate : public QObject
{
    Q_OBJECT
public:
    // After "Refuse", further connections from the address are closed unasked this long.
    static constexpr qint64 RefusalHoldMs = 60000;
    // A question nobody answers ends after this long, and its phone is turned away.
    static constexpr qint64 ConsentTimeoutMs = 60000;

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
    // Loopback peers are this machine and need no consent; tests turn that off so that a
    // loopback phone stands in for one on the network.
    void setLoopbackTrusted(bool trusted) { m_loopbackTrusted = trusted; }
    // Finds who owns the other end of a loopback connection (tests); the system's by default.
    void setSocketOwner(std::unique_ptr<SocketOwner> owner);
    // Ends the wait of the phone that waits for an answer, withdrawing the question.
    void dropWaitingPhone();

signals:
    // `socket` is the phone now; whoever takes it owns it.
    void phoneAdmitted(QTcpSocket* socket);
    // The user forgot the phone at `address` (a peerAddressKey): it may not stay.
    void phoneForgotten(const QString& address);

private slots:
    void onNewConnection();

private:
    qint64 now() const;
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
    // Bytes from the phone waiting for consent: dropped, and the question withdrawn if it is
    // a browser.
    void onWaitingPhoneData(QTcpSocket* socket);
    static void closeUnserved(QTcpSocket* socket);

    QTcpServer* m_server = nullptr;
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
