#include "web/FileTransfer.h"

#include "remote/PhoneLink.h"
#include "web/HttpAdmission.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QStorageInfo>

#include <algorithm>

namespace {

constexpr int TicketBytes = 16;

QByteArray randomToken()
{
    quint32 words[TicketBytes / 4];
    QRandomGenerator::system()->fillRange(words);
    return QByteArray(reinterpret_cast<const char*>(words), TicketBytes).toHex();
}

QString existingAncestor(QString folder)
{
    while (!folder.isEmpty() && !QFileInfo::exists(folder) && folder != QDir::rootPath())
        folder = QFileInfo(folder).absolutePath();
    return folder;
}

} // namespace

FileTransfer::FileTransfer(QObject* parent)
    : QObject(parent)
    , m_folder(defaultFolder())
    , m_nowMs([] { return QDateTime::currentMSecsSinceEpoch(); })
    , m_freeBytes([](const QString& folder) {
        // The folder may not exist yet: the file system that will hold it decides.
        return QStorageInfo(existingAncestor(folder)).bytesAvailable();
    })
{
}

FileTransfer::~FileTransfer() = default;

QString FileTransfer::defaultFolder()
{
    QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (downloads.isEmpty() || downloads == QDir::homePath())
        downloads = QDir::homePath() + QStringLiteral("/Downloads");
    return downloads + QStringLiteral("/Velmora");
}

void FileTransfer::setFolder(const QString& folder)
{
    m_folder = folder.isEmpty() ? defaultFolder() : QDir::cleanPath(folder);
}

QString FileTransfer::refusalFor(qint64 size) const
{
    if (size < 0 || size > m_maxBytes)
        return QStringLiteral("tooLarge");
    if (!QDir().mkpath(m_folder))
        return QStringLiteral("noFolder");
    if (m_freeBytes(m_folder) < size + SpareBytes)
        return QStringLiteral("noSpace");
    return QString();
}

QByteArray FileTransfer::issueTicket(const QHostAddress& peer)
{
    const qint64 now = m_nowMs();
    const QString host = HttpAdmission::hostKey(peer);
    dropTicketsBeyondLimits(host, now);
    const QByteArray ticket = randomToken();
    m_tickets.insert(ticket, {peer, host, now, m_ticketsIssued++});
    return ticket;
}

void FileTransfer::dropTicketsBeyondLimits(const QString& host, qint64 now)
{
    QHash<QString, int> held;
    for (auto it = m_tickets.begin(); it != m_tickets.end();) {
        if (now - it->issuedMs > TicketLifetimeMs || now < it->issuedMs) {
            it = m_tickets.erase(it);
        } else {
            ++held[it->host];
            ++it;
        }
    }
    QString from;
    if (held.value(host) >= MaxTickets) {
        from = host;
    } else if (m_tickets.size() >= MaxTicketsInAll) {
        const auto fullest = std::max_element(held.cbegin(), held.cend());
        from = fullest.key();
    } else {
        return;
    }
    auto oldest = m_tickets.end();
    for (auto it = m_tickets.begin(); it != m_tickets.end(); ++it)
        if (it->host == from && (oldest == m_tickets.end() || it->order < oldest->order))
            oldest = it;
    m_tickets.erase(oldest);
}

bool FileTransfer::redeemTicket(const QByteArray& ticket, const QHostAddress& peer)
{
    const auto found = m_tickets.find(ticket);
    if (found == m_tickets.end())
        return false;
    const qint64 age = m_nowMs() - found->issuedMs;
    if (age < 0 || age > TicketLifetimeMs) {
        m_tickets.erase(found);
        return false;
    }
    // Whoever overheard it on the clear-text command port must not spoil it for its phone.
    if (!found->peer.isEqual(peer, QHostAddress::TolerantConversion))
        return false;
    m_tickets.erase(found);
    return true;
}

void FileTransfer::revokeAll()
{
    if (m_tickets.isEmpty() && m_offers.isEmpty())
        return;
    qInfo().noquote() << "Upload tickets and download links revoked:" << m_tickets.size() << "and"
                      << m_offers.size();
    m_tickets.clear();
    m_offers.clear();
}

bool FileTransfer::handleMessage(const QByteArray& message, PhoneLink* link)
{
    const QJsonObject object = QJsonDocument::fromJson(message).object();
    if (object.value(QLatin1String("command")).toString() != QLatin1String("uploadticket"))
        return false;
    // {"command":"uploadticket","params":{"id":…,"size":…}}: the answer carries the same id
    // and either a ticket or why the file cannot come.
    const QJsonObject params = object.value(QLatin1String("params")).toObject();
    const QJsonValue size = params.value(QLatin1String("size"));
    QJsonObject reply{{QStringLiteral("id"), params.value(QLatin1String("id"))}};
    // Checked as a double first: a size beyond qint64 must not be converted at all.
    const bool sane = size.isDouble() && size.toDouble() >= 0 && size.toDouble() <= double(m_maxBytes);
    const QString refusal = sane ? refusalFor(qint64(size.toDouble())) : QStringLiteral("tooLarge");
    if (refusal.isEmpty())
        reply.insert(QStringLiteral("ticket"), QString::fromLatin1(issueTicket(link->peerAddress())));
    else
        reply.insert(QStringLiteral("error"), refusal);
    reply.insert(QStringLiteral("maxBytes"), double(m_maxBytes));
    link->sendMessage(QJsonDocument(QJsonObject{{QStringLiteral("command"), QStringLiteral("uploadticket")},
                                                {QStringLiteral("params"), reply}})
                          .toJson(QJsonDocument::Compact));
    return true;
}

void FileTransfer::noteReceived(const QString& path, qint64 size)
{
    m_recent.prepend({path, size, m_nowMs()});
    while (m_recent.size() > RecentCount)
        m_recent.removeLast();
    emit fileReceived(path, size);
}

void FileTransfer::setLink(PhoneLink* link)
{
    m_link = link;
}

bool FileTransfer::hasLink() const
{
    return m_link && m_link->isOpen();
}

bool FileTransfer::offerFile(const QString& path)
{
    const QFileInfo info(path);
    if (!hasLink() || !info.isFile() || !info.isReadable())
        return false;
    const QJsonObject params = addOffer(info, QHostAddress());
    m_link->sendMessage(QJsonDocument(QJsonObject{{QStringLiteral("command"), QStringLiteral("fileoffer")},
                                                  {QStringLiteral("params"), params}})
                            .toJson(QJsonDocument::Compact));
    qInfo().noquote() << "File offered to the phone:" << info.fileName();
    return true;
}

QJsonObject FileTransfer::offerTo(const QString& path, const QHostAddress& peer)
{
    const QFileInfo info(path);
    if (peer.isNull() || !info.isFile() || !info.isReadable())
        return QJsonObject();
    const QJsonObject params = addOffer(info, peer);
    qInfo().noquote() << "File offered to the phone app:" << info.fileName();
    return params;
}

QJsonObject FileTransfer::addOffer(const QFileInfo& info, const QHostAddress& claimedBy)
{
    const qint64 now = m_nowMs();
    for (auto it = m_offers.begin(); it != m_offers.end();)
        it = now - it->offeredMs > OfferLifetimeMs ? m_offers.erase(it) : std::next(it);
    if (m_offers.size() >= MaxOffers) {
        const auto oldest =
            std::min_element(m_offers.begin(), m_offers.end(),
                             [](const Offer& a, const Offer& b) { return a.offeredMs < b.offeredMs; });
        m_offers.erase(oldest);
    }
    const QByteArray token = randomToken();
    m_offers.insert(token, {info.absoluteFilePath(), now, claimedBy});
    return QJsonObject{
        {QStringLiteral("name"), info.fileName()},
        {QStringLiteral("size"), double(info.size())},
        {QStringLiteral("url"), QString(QStringLiteral("download/") + QString::fromLatin1(token))}};
}

QString FileTransfer::offeredFile(const QByteArray& token, const QHostAddress& peer)
{
    const auto found = m_offers.find(token);
    if (found == m_offers.end())
        return QString();
    const qint64 age = m_nowMs() - found->offeredMs;
    if (age < 0 || age > OfferLifetimeMs) {
        m_offers.erase(found);
        return QString();
    }
    if (found->claimedBy.isNull())
        found->claimedBy = peer;
    else if (!found->claimedBy.isEqual(peer, QHostAddress::TolerantConversion))
        return QString();
    return found->path;
}
