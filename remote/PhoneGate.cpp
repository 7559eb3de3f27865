#include "remote/PhoneGate.h"

#include "platform/network/SocketOwner.h"
#include "remote/LocalNetwork.h"
#include "remote/PhoneAccess.h"
#include "remote/PhoneNewcomers.h"
#include "remote/ProtocolGuard.h"

#include <QDateTime>
#include <QDebug>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace {

// Addresses held off after a question, at most; expired holds are swept first.
constexpr int kMaxHeldAddresses = 1024;
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
    , m_newcomers(new PhoneNewcomers(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &PhoneGate::onNewConnection);
    connect(m_newcomers, &PhoneNewcomers::ready, this, &PhoneGate::phoneAdmitted);
}

PhoneGate::~PhoneGate()
{
    // Before the listener goes, and the sockets with it.
    m_newcomers->clear();
}

bool PhoneGate::listen(quint16 port)
{
    return m_server->listen(QHostAddress::Any, port);
}

void PhoneGate::close()
{
    m_server->close();
    m_newcomers->clear();
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
    handOver(socket);
}

void PhoneGate::handOver(QTcpSocket* socket)
{
    // A connection that has not said a word may be a web page's: it must not cost the phone
    // being served its place before it proves to speak the phone's protocol.
    if (m_phonePresent && m_phonePresent())
        m_newcomers->add(socket);
    else
        emit phoneAdmitted(socket);
}

void PhoneGate::onPhoneGone()
{
    if (m_phonePresent && m_phonePresent())
        return;
    if (QTcpSocket* socket = m_newcomers->takeNewest())
        emit phoneAdmitted(socket);
}

void PhoneGate::setAccess(PhoneAccess* access, std::unique_ptr<PhoneConsentAsker> asker)
{
    dropWaitingPhone();
    if (m_access != nullptr)
        disconnect(m_access, nullptr, this, nullptr);
    m_access = access;
    m_asker = std::move(asker);
    if (m_access != nullptr) {
        connect(m_access, &PhoneAccess::phoneForgotten, this, &PhoneGate::phoneForgotten);
        connect(m_access, &PhoneAccess::phoneForgotten, m_newcomers, &PhoneNewcomers::dropFrom);
    }
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
    // Programs of this user on this machine can inject input anyway; a paired browser never
    // comes here. Another user's program is a stranger, whatever the settings say.
    const Origin origin = m_loopbackTrusted ? originOf(socket) : Origin::Network;
    if (origin == Origin::OwnUser)
        return true;
    if (origin == Origin::Network && !m_access->admitsPeer(peer)) {
        qWarning().noquote() << "Connection refused, not from the local network:" << address;
        closeUnserved(socket);
        return false;
    }
    const bool otherUser = origin == Origin::OtherUser;
    if (otherUser && !m_asker) {
        qWarning().noquote() << "Connection refused, another user's program on this PC:" << address;
        closeUnserved(socket);
        return false;
    }
    if (!otherUser) {
        if (!m_access->askBeforeNewPhone() || !m_asker)
            return true;
        if (m_access->isRemembered(address)) {
            m_access->remember(address); // seen now
            return true;
        }
    }
    const qint64 now = this->now();
    reviewQuestion(now); // a question whose time is up does not keep the next phone out
    if (!passesHold(socket, address, now))
        return false;
    enqueue({socket, address, otherUser}, now);
    return false;
}

PhoneGate::Origin PhoneGate::originOf(QTcpSocket* socket)
{
    if (!m_socketOwner)
        m_socketOwner = createSocketOwner();
    const QHostAddress peer = socket->peerAddress();
    // Any user may connect from any of this machine's addresses to any other (Linux lets a
    // program pick its source), so it is not enough to look at loopback or at the address
    // connected to. The kernel is asked about every connection: it knows the other end when it
    // is here, whatever its address.
    const bool ownAddress =
        peerAddressKey(peer) == peerAddressKey(socket->localAddress()) || m_access->isOwnAddress(peer);
    const std::optional<quint32> owner =
        ownAddress
            ? m_socketOwner->ownerOf(peer, socket->peerPort(), socket->localAddress(), socket->localPort())
            : m_socketOwner->kernelOwnerOf(peer, socket->peerPort(), socket->localAddress(),
                                           socket->localPort());
    if (!owner && !ownAddress)
        return Origin::Network;
    if (owner && *owner == m_socketOwner->currentUser())
        return Origin::OwnUser;
    // Unknown counts as someone else: trust needs proof.
    qWarning().noquote() << "Connection from another user's program on this PC, it needs consent:"
                         << peerAddressKey(peer) << "port" << socket->peerPort() << "user"
                         << (owner ? QString::number(*owner) : QStringLiteral("unknown"));
    return Origin::OtherUser;
}

bool PhoneGate::passesHold(QTcpSocket* socket, const QString& address, qint64 now)
{
    const auto held = m_held.find(address);
    if (held == m_held.end())
        return true;
    if (now >= held->until) {
        m_held.erase(held);
        return true;
    }
    if (held->refused)
        qWarning().noquote() << "Connection refused, the user refused this phone moments ago:" << address;
    else
        qWarning().noquote()
            << "Connection refused, this phone's question ended unanswered moments ago; it may"
               " ask again in"
            << (held->until - now + 999) / 1000 << "s:" << address;
    closeUnserved(socket);
    return false;
}

void PhoneGate::enqueue(const Waiting& waiting, qint64 now)
{
    if (m_asked.socket != nullptr && m_asked.address == waiting.address) {
        // The same phone connected again: the newer connection waits for the open question.
        closeUnserved(m_asked.socket);
        m_asked.socket = waiting.socket;
        m_asked.otherUser = m_asked.otherUser || waiting.otherUser;
        watchWaitingPhone(waiting.socket);
        qInfo().noquote() << "New phone waits for the user's consent:" << waiting.address;
        return;
    }
    if (m_asked.socket == nullptr) {
        askConsent(waiting, now);
        return;
    }
    for (Waiting& inLine : m_line) {
        if (inLine.address == waiting.address) {
            closeUnserved(inLine.socket);
            inLine.socket = waiting.socket;
            inLine.otherUser = inLine.otherUser || waiting.otherUser;
            watchWaitingPhone(waiting.socket);
            return;
        }
    }
    if (m_line.size() >= MaxWaitingForTurn) {
        qWarning().noquote() << "Connection refused for now, too many new phones wait for consent;"
                                " this one may retry in a moment:"
                             << waiting.address;
        closeUnserved(waiting.socket);
        return;
    }
    m_line.append(waiting);
    watchWaitingPhone(waiting.socket);
    qInfo().noquote() << "New phone waits for its turn to be asked about:" << waiting.address;
    reviewQuestion(now); // its turn may come sooner than the question's end
}

void PhoneGate::watchWaitingPhone(QTcpSocket* socket)
{
    // Commands sent before the answer are read and dropped: a remote must not replay stale
    // clicks once allowed, nor fill our memory while it waits.
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onWaitingPhoneData(socket); });
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] { onWaitingPhoneGone(socket); });
    connect(socket, &QTcpSocket::errorOccurred, this, [this, socket] { onWaitingPhoneGone(socket); });
}

void PhoneGate::askConsent(const Waiting& waiting, qint64 now)
{
    m_asked = waiting;
    watchWaitingPhone(waiting.socket);
    qInfo().noquote() << "New phone waits for the user's consent:" << waiting.address;
    const quint64 question = ++m_question;
    m_questionAskedAt = now;
    m_questionDeadline = now + ConsentTimeoutMs;
    if (m_consentExpiry == nullptr) {
        m_consentExpiry = new QTimer(this);
        m_consentExpiry->setObjectName(QStringLiteral("consentExpiry"));
        m_consentExpiry->setSingleShot(true);
        connect(m_consentExpiry, &QTimer::timeout, this, [this] { reviewQuestion(this->now()); });
    }
    m_asker->ask(waiting.address,
                 waiting.otherUser ? PhoneConsentAsker::Who::OtherUser : PhoneConsentAsker::Who::NewPhone,
                 int(ConsentTimeoutMs),
                 [this, question](PhoneConsentAsker::Answer answer) { onConsentAnswer(question, answer); });
    reviewQuestion(now);
}

void PhoneGate::reviewQuestion(qint64 now)
{
    if (m_asked.socket == nullptr) {
        askNext(now);
        return;
    }
    const qint64 turnEnd =
        m_line.isEmpty() ? m_questionDeadline : qMin(m_questionDeadline, m_questionAskedAt + QuestionTurnMs);
    if (now < turnEnd) {
        m_consentExpiry->start(int(turnEnd - now)); // woken early: wait for the rest
        return;
    }
    // Like a refusal: the address waits before it may ask again, so that a host reconnecting
    // at each end cannot keep the question to itself. The user may simply have been away.
    if (now >= m_questionDeadline)
        qWarning().noquote() << "Nobody answered in time, the phone waiting for consent is turned away:"
                             << m_asked.address;
    else
        qWarning().noquote() << "Another new phone waits, the question about this one gives way:"
                             << m_asked.address;
    hold(m_asked.address, now, false);
    withdrawQuestion();
    askNext(now);
}

void PhoneGate::askNext(qint64 now)
{
    if (m_asked.socket != nullptr || m_line.isEmpty()) {
        if (m_asked.socket == nullptr && m_consentExpiry != nullptr)
            m_consentExpiry->stop();
        return;
    }
    askConsent(m_line.takeFirst(), now);
}

void PhoneGate::hold(const QString& address, qint64 now, bool refused)
{
    if (m_held.size() >= kMaxHeldAddresses) {
        for (auto it = m_held.begin(); it != m_held.end();)
            it = it->until <= now ? m_held.erase(it) : std::next(it);
        if (m_held.size() >= kMaxHeldAddresses)
            m_held.erase(m_held.begin());
    }
    m_held.insert(address, {now + RefusalHoldMs, refused});
}

void PhoneGate::onConsentAnswer(quint64 question, PhoneConsentAsker::Answer answer)
{
    if (question != m_question || m_asked.socket == nullptr)
        return;
    const Waiting asked = m_asked;
    m_asked = Waiting{};
    const qint64 now = this->now();
    if (answer == PhoneConsentAsker::Answer::Refuse) {
        qWarning().noquote() << "The user refused the phone:" << asked.address;
        hold(asked.address, now, true);
        closeUnserved(asked.socket);
        QTimer::singleShot(0, this, [this] { askNext(this->now()); });
        return;
    }
    // Remembering an address of this machine would let every user of this PC in: this time
    // only, and never for another user's connection.
    const bool ownAddress =
        m_loopbackTrusted && m_access != nullptr && m_access->isOwnAddress(QHostAddress(asked.address));
    if (answer == PhoneConsentAsker::Answer::AlwaysAllow && m_access != nullptr && !asked.otherUser &&
        !ownAddress)
        m_access->remember(asked.address);
    qInfo().noquote() << "The user allowed the phone:" << asked.address;
    QTcpSocket* socket = asked.socket;
    if (socket->state() != QAbstractSocket::ConnectedState || !m_server->isListening()) {
        closeUnserved(socket);
    } else {
        socket->disconnect(this);
        socket->skip(socket->bytesAvailable()); // what it sent while waiting is stale
        handOver(socket);
    }
    // The next question once this answer is through: the dialog that gave it is still closing.
    QTimer::singleShot(0, this, [this] { askNext(this->now()); });
}

void PhoneGate::onWaitingPhoneData(QTcpSocket* socket)
{
    // Read in pieces: a stranger must not make us hold much of what it sends.
    while (socket->bytesAvailable() > 0) {
        const QByteArray bytes = socket->read(kWaitingReadBytes);
        for (const QByteArray& line : bytes.split('\n')) {
            if (looksLikeHttp(line)) {
                qWarning().noquote() << httpRefusal(socket->peerAddress());
                endWait(socket);
                return;
            }
        }
    }
}

void PhoneGate::onWaitingPhoneGone(QTcpSocket* socket)
{
    QString address = socket == m_asked.socket ? m_asked.address : QString();
    for (const Waiting& waiting : qAsConst(m_line)) {
        if (waiting.socket == socket)
            address = waiting.address;
    }
    qInfo().noquote() << "The phone waiting for consent went away:" << address;
    endWait(socket);
}

void PhoneGate::endWait(QTcpSocket* socket)
{
    if (socket == m_asked.socket) {
        withdrawQuestion();
        askNext(now());
        return;
    }
    for (int i = 0; i < m_line.size(); ++i) {
        if (m_line.at(i).socket == socket) {
            m_line.removeAt(i);
            closeUnserved(socket);
            return;
        }
    }
}

void PhoneGate::withdrawQuestion()
{
    if (m_asked.socket == nullptr)
        return;
    closeUnserved(m_asked.socket);
    m_asked = Waiting{};
    ++m_question;
    if (m_asker)
        m_asker->cancel();
}

void PhoneGate::dropWaitingPhone()
{
    for (const Waiting& waiting : qAsConst(m_line))
        closeUnserved(waiting.socket);
    m_line.clear();
    withdrawQuestion();
    if (m_consentExpiry != nullptr)
        m_consentExpiry->stop();
}
