#include "remote/PhoneGate.h"

#include "platform/SocketOwner.h"
#include "remote/LocalNetwork.h"
#include "remote/PhoneAccess.h"
#include "remote/ProtocolGuard.h"

#include <QDateTime>
#include <QDebug>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace {

// Addresses held off after a refusal, at most; expired ones are swept first.
constexpr int kMaxRefusedAddresses = 1024;
// What is read at a time from a phone that waits for consent (and then thrown away).
constexpr qint64 kWaitingReadBytes = 16 * 1024;

// A clock that a change of the system time does not move.
qint64 monotonicMs()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
}

} // namespace

PhoneGate::PhoneGate(QObject* parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &PhoneGate::onNewConnection);
}

PhoneGate::~PhoneGate() = default;

bool PhoneGate::listen(quint16 port)
{
    return m_server->listen(QHostAddress::Any, port);
}

void PhoneGate::close()
{
    m_server->close();
}

bool PhoneGate::isListening() const
{
    return m_server->isListening();
}

quint16 PhoneGate::serverPort() const
{
    return m_server->isListening() ? m_server->serverPort() : 0;
}

QString PhoneGate::errorString() const
{
    return m_server->errorString();
}

qint64 PhoneGate::now() const
{
    return m_nowMs ? m_nowMs() : monotonicMs();
}

void PhoneGate::onNewConnection()
{
    // Take the newcomer first: a signal without a pending connection must not cost the
    // current phone its connection.
    QTcpSocket* socket = m_server->nextPendingConnection();
    if (socket == nullptr || !admitNewcomer(socket))
        return;
    emit phoneAdmitted(socket);
}

void PhoneGate::setAccess(PhoneAccess* access, std::unique_ptr<PhoneConsentAsker> asker)
{
    dropWaitingPhone();
    if (m_access != nullptr)
        disconnect(m_access, nullptr, this, nullptr);
    m_access = access;
    m_asker = std::move(asker);
    if (m_access != nullptr)
        connect(m_access, &PhoneAccess::phoneForgotten, this, &PhoneGate::phoneForgotten);
}

void PhoneGate::setSocketOwner(std::unique_ptr<SocketOwner> owner)
{
    m_socketOwner = std::move(owner);
}

void PhoneGate::closeUnserved(QTcpSocket* socket)
{
    socket->disconnect();
    socket->abort();
    socket->deleteLater();
}

bool PhoneGate::admitNewcomer(QTcpSocket* socket)
{
    if (m_access == nullptr)
        return true;
    const QHostAddress peer = socket->peerAddress();
    const QString address = peerAddressKey(peer);
    if (!m_access->admitsPeer(peer)) {
        qWarning().noquote() << "Connection refused, not from the local network:" << address;
        closeUnserved(socket);
        return false;
    }
    // Programs of this user on this machine can inject input anyway; a paired browser never
    // comes here. Another user's program is a stranger, whatever the settings say.
    bool otherUser = false;
    // A program of this machine may come over loopback or through one of the machine's own
    // network addresses; either way its owner decides.
    if (m_loopbackTrusted && isFromThisMachine(peer, socket->localAddress())) {
        if (isOwnUsersConnection(socket))
            return true;
        otherUser = true;
        if (!m_asker) {
            qWarning().noquote() << "Connection refused, another user's program on this PC:" << address;
            closeUnserved(socket);
            return false;
        }
    } else if (!m_access->askBeforeNewPhone() || !m_asker) {
        return true;
    } else if (m_access->isRemembered(address)) {
        m_access->remember(address); // seen now
        return true;
    }
    const qint64 now = this->now();
    expireConsentQuestion(now); // an unanswered question does not keep the next phone out
    const auto refused = m_refusedUntil.find(address);
    if (refused != m_refusedUntil.end()) {
        if (now < *refused) {
            qWarning().noquote() << "Connection refused, the user refused this phone moments ago:" << address;
            closeUnserved(socket);
            return false;
        }
        m_refusedUntil.erase(refused);
    }
    if (m_waitingSocket != nullptr) {
        if (m_waitingAddress != address) {
            // One question at a time: a crowd of newcomers cannot bury the screen in dialogs.
            qWarning().noquote() << "Connection refused for now, another new phone is waiting for consent;"
                                    " this one may retry once that is answered:"
                                 << address;
            closeUnserved(socket);
            return false;
        }
        // The same phone connected again: the newer connection waits for the open question.
        closeUnserved(m_waitingSocket);
        m_waitingSocket = nullptr;
    }
    askConsent(socket, address, otherUser, now);
    return false;
}

bool PhoneGate::isOwnUsersConnection(QTcpSocket* socket)
{
    if (!m_socketOwner)
        m_socketOwner = createSocketOwner();
    const std::optional<quint32> owner = m_socketOwner->ownerOf(socket->peerAddress(), socket->peerPort(),
                                                                socket->localAddress(), socket->localPort());
    if (owner && *owner == m_socketOwner->currentUser())
        return true;
    // Unknown counts as someone else: trust needs proof.
    qWarning().noquote() << "Loopback connection from another user's program, it needs consent:"
                         << peerAddressKey(socket->peerAddress()) << "port" << socket->peerPort() << "user"
                         << (owner ? QString::number(*owner) : QStringLiteral("unknown"));
    return false;
}

void PhoneGate::askConsent(QTcpSocket* socket, const QString& address, bool otherUser, qint64 now)
{
    const bool asking = m_waitingSocket == nullptr && m_waitingAddress.isEmpty();
    m_waitingSocket = socket;
    m_waitingAddress = address;
    m_waitingIsOtherUser = otherUser;
    // Commands sent before the answer are read and dropped: a remote must not replay stale
    // clicks once allowed, nor fill our memory while it waits.
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onWaitingPhoneData(socket); });
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] { onWaitingPhoneGone(socket); });
    connect(socket, &QTcpSocket::errorOccurred, this, [this, socket] { onWaitingPhoneGone(socket); });
    qInfo().noquote() << "New phone waits for the user's consent:" << address;
    if (!asking)
        return;
    const quint64 question = ++m_question;
    m_questionDeadline = now + ConsentTimeoutMs;
    if (m_consentExpiry == nullptr) {
        m_consentExpiry = new QTimer(this);
        m_consentExpiry->setObjectName(QStringLiteral("consentExpiry"));
        m_consentExpiry->setSingleShot(true);
        connect(m_consentExpiry, &QTimer::timeout, this, [this] { expireConsentQuestion(this->now()); });
    }
    m_consentExpiry->start(int(ConsentTimeoutMs));
    m_asker->ask(address, int(ConsentTimeoutMs),
                 [this, question](PhoneConsentAsker::Answer answer) { onConsentAnswer(question, answer); });
}

void PhoneGate::expireConsentQuestion(qint64 now)
{
    if (m_waitingAddress.isEmpty())
        return;
    if (now < m_questionDeadline) {
        m_consentExpiry->start(int(m_questionDeadline - now)); // woken early: wait for the rest
        return;
    }
    // Like a refusal of this connection, but without holding the address off: the user may
    // simply have been away.
    qWarning().noquote() << "Nobody answered in time, the phone waiting for consent is turned away:"
                         << m_waitingAddress;
    dropWaitingPhone();
}

void PhoneGate::onConsentAnswer(quint64 question, PhoneConsentAsker::Answer answer)
{
    if (question != m_question || m_waitingAddress.isEmpty())
        return;
    QTcpSocket* socket = m_waitingSocket;
    const QString address = m_waitingAddress;
    const bool otherUser = m_waitingIsOtherUser;
    m_waitingSocket = nullptr;
    m_waitingAddress.clear();
    if (m_consentExpiry != nullptr)
        m_consentExpiry->stop();
    if (answer == PhoneConsentAsker::Answer::Refuse) {
        qWarning().noquote() << "The user refused the phone:" << address;
        const qint64 now = this->now();
        if (m_refusedUntil.size() >= kMaxRefusedAddresses) {
            for (auto it = m_refusedUntil.begin(); it != m_refusedUntil.end();)
                it = *it <= now ? m_refusedUntil.erase(it) : std::next(it);
            if (m_refusedUntil.size() >= kMaxRefusedAddresses)
                m_refusedUntil.erase(m_refusedUntil.begin());
        }
        m_refusedUntil.insert(address, now + RefusalHoldMs);
        if (socket != nullptr)
            closeUnserved(socket);
        return;
    }
    // Remembering a loopback address would let every user of this PC in: this time only.
    if (answer == PhoneConsentAsker::Answer::AlwaysAllow && m_access != nullptr && !otherUser)
        m_access->remember(address);
    qInfo().noquote() << "The user allowed the phone:" << address;
    if (socket == nullptr || socket->state() != QAbstractSocket::ConnectedState || !m_server->isListening()) {
        if (socket != nullptr)
            closeUnserved(socket);
        return;
    }
    socket->disconnect(this);
    socket->skip(socket->bytesAvailable()); // what it sent while waiting is stale
    emit phoneAdmitted(socket);
}

void PhoneGate::onWaitingPhoneData(QTcpSocket* socket)
{
    // Read in pieces: a stranger must not make us hold much of what it sends.
    while (socket == m_waitingSocket && socket->bytesAvailable() > 0) {
        const QByteArray bytes = socket->read(kWaitingReadBytes);
        for (const QByteArray& line : bytes.split('\n')) {
            if (looksLikeHttp(line)) {
                qWarning().noquote() << httpRefusal(socket->peerAddress());
                dropWaitingPhone();
                return;
            }
        }
    }
}

void PhoneGate::onWaitingPhoneGone(QTcpSocket* socket)
{
    if (socket != m_waitingSocket)
        return;
    qInfo().noquote() << "The phone waiting for consent went away:" << m_waitingAddress;
    dropWaitingPhone();
}

void PhoneGate::dropWaitingPhone()
{
    if (m_waitingAddress.isEmpty())
        return;
    if (m_waitingSocket != nullptr)
        closeUnserved(m_waitingSocket);
    m_waitingSocket = nullptr;
    m_waitingAddress.clear();
    if (m_consentExpiry != nullptr)
        m_consentExpiry->stop();
    ++m_question;
    if (m_asker)
        m_asker->cancel();
}
