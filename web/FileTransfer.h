#pragma once

#include "platform/files/UnnamedFile.h"
#include "remote/PhoneFiles.h"

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>
#include <memory>

class PhoneLink;
class QFileInfo;

// Files between the paired browser and this PC. The page asks over its sealed channel for a
// ticket per file; the upload request must carry it (header "X-Velmora-Ticket"), once, soon and
// from the same address, so that only the paired browser can put files here. A phone app asks
// the same over the command port (PhoneFiles).
class FileTransfer final : public QObject, public PhoneFiles
{
    Q_OBJECT
public:
    static constexpr qint64 DefaultMaxBytes = qint64(4) * 1024 * 1024 * 1024;
    static constexpr qint64 TicketLifetimeMs = 60000;
    // Tickets one host holds at once; its oldest goes when it asks for more, so a phone asking in
    // a loop cannot push out another phone's ticket.
    static constexpr int MaxTickets = 64;
    // Tickets held in all; beyond it the oldest of the host holding the most goes.
    static constexpr int MaxTicketsInAll = 1024;
    // Free space the disk keeps beyond a file, so that a received file never fills it to the brim.
    static constexpr qint64 SpareBytes = 16 * 1024 * 1024;
    // Received files the Settings page shows.
    static constexpr int RecentCount = 5;
    static constexpr qint64 OfferLifetimeMs = 10 * 60 * 1000;
    static constexpr int MaxOffers = 64;

    explicit FileTransfer(QObject* parent = nullptr);
    ~FileTransfer() override;

    // The user's download folder (XDG DOWNLOAD, else ~/Downloads) with "Velmora" in it.
    static QString defaultFolder();
    QString folder() const { return m_folder; }
    void setFolder(const QString& folder);
    qint64 maxBytes() const override { return m_maxBytes; }
    void setMaxBytes(qint64 bytes) { m_maxBytes = bytes > 0 ? bytes : DefaultMaxBytes; }
    void setClock(std::function<qint64()> nowMs) { m_nowMs = std::move(nowMs); }
    // Free bytes where the files land; by default the file system's answer.
    void setFreeSpace(std::function<qint64(const QString& folder)> freeBytes)
    {
        m_freeBytes = std::move(freeBytes);
    }

    // What received files are written into; by default (null) the platform's unnamed files.
    void setFileMaker(std::function<std::unique_ptr<UnnamedFile>()> maker) { m_fileMaker = std::move(maker); }
    std::unique_ptr<UnnamedFile> newFile() const { return m_fileMaker ? m_fileMaker() : nullptr; }

    // Why a file of `size` bytes cannot be taken now, as the page shows it ("tooLarge",
    // "noSpace", "noFolder"); empty when it can.
    QString refusalFor(qint64 size) const override;
    // A fresh single-use ticket for one upload from `peer`.
    QByteArray issueTicket(const QHostAddress& peer) override;
    // Whether `ticket` was issued to `peer` and is still good, which uses it up. Another
    // address cannot spend it: the ticket stays good for its own.
    bool redeemTicket(const QByteArray& ticket, const QHostAddress& peer);
    // Ends every ticket and download link given out so far (a new pairing code was made).
    void revokeAll();

    // A message from the paired browser; true when it was a file command and is answered.
    bool handleMessage(const QByteArray& message, PhoneLink* link);

    // The browser that file offers go to: the newest proven one.
    void setLink(PhoneLink* link);
    bool hasLink() const;
    // Offers the file at `path` to the browser: it shows a card whose Download button fetches
    // "download/<token>". False when no browser is connected or the file cannot be read.
    bool offerFile(const QString& path);
    // The file behind a download token, for `peer`: the first address to use a link keeps it
    // (it may resume with Range) until the link expires; empty for anyone else or when unknown.
    QString offeredFile(const QByteArray& token, const QHostAddress& peer);
    // An offer for the phone app at `peer`: its link is that address's from the start, since the
    // command port carries it in clear and another host must not claim it first.
    QJsonObject offerTo(const QString& path, const QHostAddress& peer) override;

    struct Received
    {
        QString path;
        qint64 size = 0;
        qint64 timeMs = 0; // since the epoch
    };
    // A file arrived complete at `path`.
    void noteReceived(const QString& path, qint64 size);
    // Newest first, at most RecentCount.
    QVector<Received> recentFiles() const { return m_recent; }

signals:
    void fileReceived(const QString& path, qint64 size);

private:
    struct Ticket
    {
        QHostAddress peer;
        QString host; // as places are shared out per host
        qint64 issuedMs = 0;
        quint64 order = 0; // of issue: the clock may give two the same time
    };
    // Makes room for one more ticket for `host`.
    void dropTicketsBeyondLimits(const QString& host, qint64 now);

    QString m_folder;
    qint64 m_maxBytes = DefaultMaxBytes;
    std::function<qint64()> m_nowMs;
    std::function<qint64(const QString&)> m_freeBytes;
    std::function<std::unique_ptr<UnnamedFile>()> m_fileMaker;
    QHash<QByteArray, Ticket> m_tickets;
    quint64 m_ticketsIssued = 0;
    struct Offer
    {
        QString path;
        qint64 offeredMs = 0;
        QHostAddress claimedBy; // null until first used
    };
    QHash<QByteArray, Offer> m_offers;
    // Keeps the offer of `info` for `claimedBy` (null: the first address to use it); the body
    // of its "fileoffer".
    QJsonObject addOffer(const QFileInfo& info, const QHostAddress& claimedBy);
    QPointer<PhoneLink> m_link;
    QVector<Received> m_recent; // newest first
};
