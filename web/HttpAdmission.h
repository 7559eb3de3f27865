#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

#include <functional>
#include <memory>

class HostCheck;
struct HttpRequest;
class QHostAddress;

// Who the HTTP server serves: peers the filter lets in, within the limits on open connections
// in all and per address, with requests addressed to this PC. Refusals are logged, each kind
// from one address at most once a minute.
class HttpAdmission final
{
public:
    using PeerFilter = std::function<bool(const QHostAddress& peer)>;

    HttpAdmission(int maxConnections, int maxPerAddress, std::function<qint64()> nowMs);
    ~HttpAdmission();

    // One text for an address whether it came in over IPv4 or IPv4-mapped on the dual-stack
    // listener, so that switching families does not double a host's share.
    static QString addressKey(const QHostAddress& address);

    void setPeerFilter(PeerFilter filter) { m_peerFilter = std::move(filter); }
    // Counts a new connection from `peer` when it may be served; false (logged) when not.
    bool admit(const QHostAddress& peer, int openConnections);
    void release(const QString& address);
    void clear() { m_openPerAddress.clear(); }
    int connectionCount(const QHostAddress& peer) const { return m_openPerAddress.value(addressKey(peer)); }

    // The answer that refuses a request addressed to another host or without exactly one Host;
    // empty when the request may be served.
    QByteArray refusalFor(const HttpRequest& request, const QHostAddress& peer, const QHostAddress& local);

    std::shared_ptr<HostCheck> hostCheck() const { return m_hostCheck; }
    void setHostCheck(std::shared_ptr<HostCheck> check) { m_hostCheck = std::move(check); }

private:
    // Logs `line` unless a refusal of the same `key` (its kind and address) was logged lately.
    void noteRefusal(const QString& key, const QString& line);

    const int m_maxConnections;
    const int m_maxPerAddress;
    std::function<qint64()> m_nowMs;
    PeerFilter m_peerFilter;
    std::shared_ptr<HostCheck> m_hostCheck;
    QHash<QString, int> m_openPerAddress;
    QHash<QString, qint64> m_refusalNotedMs; // by address, or "*" for the total
};
