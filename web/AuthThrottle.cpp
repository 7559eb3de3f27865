#include "web/AuthThrottle.h"

#include <algorithm>
#include <limits>

qint64 AuthThrottle::holdFor(const QString& address, qint64 nowMs) const
{
    const int counted = failures(address, nowMs);
    if (counted < m_policy.freeFailures)
        return 0;
    qint64 hold = m_policy.firstHoldMs;
    for (int i = m_policy.freeFailures; i < counted && hold < m_policy.maxHoldMs; ++i)
        hold *= 2;
    return std::min(hold, m_policy.maxHoldMs);
}

void AuthThrottle::recordFailure(const QString& address, qint64 nowMs)
{
    auto found = m_entries.find(address);
    if (found == m_entries.end()) {
        makeRoom(nowMs);
        found = m_entries.insert(address, Entry());
    } else if (expired(*found, nowMs)) {
        found->failures = 0;
    }
    if (found->failures < std::numeric_limits<int>::max())
        ++found->failures;
    found->lastFailureMs = nowMs;
}

void AuthThrottle::recordSuccess(const QString& address)
{
    m_entries.remove(address);
}

int AuthThrottle::failures(const QString& address, qint64 nowMs) const
{
    const auto found = m_entries.constFind(address);
    if (found == m_entries.cend() || expired(*found, nowMs))
        return 0;
    return found->failures;
}

bool AuthThrottle::expired(const Entry& entry, qint64 nowMs) const
{
    return nowMs - entry.lastFailureMs > m_policy.windowMs;
}

void AuthThrottle::makeRoom(qint64 nowMs)
{
    if (m_entries.size() < m_policy.maxAddresses)
        return;
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        if (expired(*it, nowMs))
            it = m_entries.erase(it);
        else
            ++it;
    }
    while (m_entries.size() >= std::max(1, m_policy.maxAddresses)) {
        auto stalest =
            std::min_element(m_entries.begin(), m_entries.end(), [](const Entry& a, const Entry& b) {
                return a.lastFailureMs < b.lastFailureMs;
            });
        m_entries.erase(stalest);
    }
}
