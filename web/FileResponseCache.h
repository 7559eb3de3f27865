#pragma once

#include "platform/files/FileIdentity.h"

#include <QByteArray>
#include <QCache>
#include <QString>

// Answers for recently served files, so that the web client's files go out without being read
// and typed again. An entry holds the response head of a file, and for a small file the whole
// response; it is used only while the file keeps the identity it had when it was read. A file
// changed less than the settle time ago is not kept: the file system's clock moves in ticks, and
// a second write within the same tick would leave the identity as it was.
class FileResponseCache final
{
public:
    // Files up to this size are kept whole; larger ones only by their head.
    static constexpr qint64 MaxBodyBytes = 64 * 1024;
    static constexpr int DefaultBudgetBytes = 4 * 1024 * 1024;
    static constexpr qint64 DefaultSettleMs = 1000;

    struct Entry
    {
        FileIdentity identity;
        QByteArray head;     // status line and headers, up to the blank line included
        QByteArray response; // head and body, or empty when only the head is kept
    };

    explicit FileResponseCache(int budgetBytes = DefaultBudgetBytes);

    // The entry for the file named `key` while the file still has `identity`; null otherwise.
    const Entry* find(const QString& key, const FileIdentity& identity);
    // Keeps `entry` if its file had settled at `nowMs` (milliseconds since the epoch).
    void store(const QString& key, const Entry& entry, qint64 nowMs);
    void setSettleTime(qint64 milliseconds) { m_settleMs = milliseconds; }

    int count() const { return m_entries.count(); }
    qint64 hits() const { return m_hits; }

private:
    QCache<QString, Entry> m_entries;
    qint64 m_settleMs = DefaultSettleMs;
    qint64 m_hits = 0;
};
