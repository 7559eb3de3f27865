// Who gets to be the phone: the local-network rule and the user's consent, applied when a TCP
// phone connects. Browsers prove the pairing token instead and are admitted by their channel.

#include "remote/LocalNetwork.h"
#include "remote/PhoneAccess.h"
#include "remote/Server.h"

#include <QDateTime>
#include <QDebug>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>

namespace {

// Addresses held off after a refusal, at most; expired ones are swept first.
constexpr int kMaxRefusedAddresses = 1024;

// A clock that a change of the system time does not move.
qint64 monotonicMs()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
}

} // namespace

void Server::setAccess(PhoneAccess* access, std::unique_ptr<PhoneConsentAsker> asker)
{
    dropWaitingPhone();
    if (m_access != nullptr)
        disconnect(m_access, nullptr, this, nullptr);
    m_access = access;
    m_asker = std::move(asker);
    if (m_access != nullptr)
        connect(m_access, &PhoneAccess::phoneForgotten, this, &Server::onPhoneForgotten);
}

void Server::closeUnserved(QTcpSocket* socket)
{
    socket->disconnect();
    socket->abort();
    socket->deleteLater();
}

bool Server::admitNewcomer(QTcpSocket* socket)
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
    // Programs on this machine can inject input anyway; a paired browser never comes here.
    const bool loopback = QHostAddress(address).isLoopback();
    if ((loopback && m_loopbackTrusted) || !m_access->askBeforeNewPhone() || !m_asker)
        return true;
    if (m_access->isRemembered(address)) {
        m_access->remember(address); // seen now
        return true;
    }
    const qint64 now = m_nowMs ? m_nowMs() : monotonicMs();
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
            qWarning().noquote() << "Connection refused, another new phone is waiting for consent:"
                                 << address;
            closeUnserved(socket);
            return false;
        }
        // The same phone connected again: the newer connection waits for the open question.
        closeUnserved(m_waitingSocket);
        m_waitingSocket = nullptr;
    }
    askConsent(socket, address);
    return false;
}

void Server::askConsent(QTcpSocket* socket, const QString& address)
{
    const bool asking = m_waitingSocket == nullptr && m_waitingAddress.isEmpty();
    m_waitingSocket = socket;
    m_waitingAddress = address;
    // Commands sent before the answer are read and dropped: a remote must not replay stale
    // clicks once allowed, nor fill our memory while it waits.
    connect(socket, &QTcpSocket::readyRead, this, [socket] { socket->skip(socket->bytesAvailable()); });
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] { onWaitingPhoneGone(socket); });
    connect(socket, &QTcpSocket::errorOccurred, this, [this, socket] { onWaitingPhoneGone(socket); });
    qInfo().noquote() << "New phone waits for the user's consent:" << address;
    if (!asking)
        return;
    const quint64 question = ++m_question;
    m_asker->ask(address,
                 [this, question](PhoneConsentAsker::Answer answer) { onConsentAnswer(question, answer); });
}

void Server::onConsentAnswer(quint64 question, PhoneConsentAsker::Answer answer)
{
    if (question != m_question || m_waitingAddress.isEmpty())
        return;
    QTcpSocket* socket = m_waitingSocket;
    const QString address = m_waitingAddress;
    m_waitingSocket = nullptr;
    m_waitingAddress.clear();
    if (answer == PhoneConsentAsker::Answer::Refuse) {
        qWarning().noquote() << "The user refused the phone:" << address;
        const qint64 now = m_nowMs ? m_nowMs() : monotonicMs();
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
    if (answer == PhoneConsentAsker::Answer::AlwaysAllow && m_access != nullptr)
        m_access->remember(address);
    qInfo().noquote() << "The user allowed the phone:" << address;
    if (socket == nullptr || socket->state() != QAbstractSocket::ConnectedState || !m_server->isListening()) {
        if (socket != nullptr)
            closeUnserved(socket);
        return;
    }
    socket->disconnect(this);
    socket->skip(socket->bytesAvailable()); // what it sent while waiting is stale
    takePhone(socket);
}

void Server::onWaitingPhoneGone(QTcpSocket* socket)
{
    if (socket != m_waitingSocket)
        return;
    qInfo().noquote() << "The phone waiting for consent went away:" << m_waitingAddress;
    dropWaitingPhone();
}

void Server::dropWaitingPhone()
{
    if (m_waitingAddress.isEmpty())
        return;
    if (m_waitingSocket != nullptr)
        closeUnserved(m_waitingSocket);
    m_waitingSocket = nullptr;
    m_waitingAddress.clear();
    ++m_question;
    if (m_asker)
        m_asker->cancel();
}

void Server::onPhoneForgotten(const QString& address)
{
    if (m_clientSocket != nullptr && peerAddressKey(m_clientSocket->peerAddress()) == address)
        dropPhone(QStringLiteral("The phone is no longer allowed, connection closed: ") + address,
                  CloseGoingAway);
}
