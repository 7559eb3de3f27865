#include "web/FileResponseCache.h"

namespace {

// Every entry counts at least this much, so that head-only entries are bounded in number too.
constexpr int EntryOverheadBytes = 1024;

} // namespace

FileResponseCache::FileResponseCache(int budgetBytes)
    : m_entries(budgetBytes)
{
}

const FileResponseCache::Entry* FileResponseCache::find(const QString& key, const FileIdentity& identity)
{
    const Entry* entry = m_entries.object(key);
    if (entry == nullptr)
        return nullptr;
    if (entry->identity != identity) {
        m_entries.remove(key);
        return nullptr;
    }
    ++m_hits;
    return entry;
}

void FileResponseCache::store(const QString& key, const Entry& entry, qint64 nowMs)
{
    if (entry.identity.changedNs / 1000000 + m_settleMs >= nowMs)
        return;
    const int cost = entry.head.size() + entry.response.size() + key.size() * 2 + EntryOverheadBytes;
    m_entries.insert(key, new Entry(entry), cost);
}
