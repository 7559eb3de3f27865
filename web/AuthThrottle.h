#pragma once

#include <QHash>
#include <QString>

// Remembers failed authentication attempts per peer address and says how long the next
// attempt from that address is to be held before it is even looked at. A few mistakes cost
// nothing; after that the hold doubles with each failure up to a ceiling. An address is
// forgotten once it has stayed quiet for the window, and the table never grows past its
// bound (the stalest address makes room). Time is passed in, in milliseconds of a
// monotonic clock, so that the rules can be tested without waiting.
class AuthThrottle final
{
public:
    struct Policy
    {
        int freeFailures = 3;      // failures without any hold
        qint64 windowMs = 60000;   // a failure older than this (counted from the last) is forgotten
        qint64 firstHoldMs = 1000; // hold after freeFailures failures
        qint64 maxHoldMs = 8000;   // the hold never grows beyond this
        int maxAddresses = 256;    // addresses remembered at most
    };

    AuthThrottle() = default;
    explicit AuthThrottle(const Policy& policy)
        : m_policy(policy)
    {
    }

    const Policy& policy() const { return m_policy; }

    // How long to hold the next attempt from `address`; 0 for none.
    qint64 holdFor(const QString& address, qint64 nowMs) const;
    void recordFailure(const QString& address, qint64 nowMs);
    // The right token was shown: the address starts afresh.
    void recordSuccess(const QString& address);
    // Failures currently counted against `address`.
    int failures(const QString& address, qint64 nowMs) const;
    int size() const { return m_entries.size(); }

private:
    struct Entry
    {
        int failures = 0;
        qint64 lastFailureMs = 0;
    };

    bool expired(const Entry& entry, qint64 nowMs) const;
    void makeRoom(qint64 nowMs);

    Policy m_policy;
    QHash<QString, Entry> m_entries;
};
