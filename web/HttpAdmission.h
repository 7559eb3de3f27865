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
    // The host an address stands for when places are shared out: an IPv6 address by its /64,
    // since a host may take any number of addresses in its subnet; an IPv4 one, a link-local
    // one (all of which share fe80::/64) and loopback by the address itself.
    static QString hostKey(const QHostAddress& address);

    void setPeerFilter(PeerFilter filter) { m_peerFilter = std::move(filter); }
    enum class Verdict
    {
        Admitted, // counted against its host's share
        Full,     // every place is taken: it may have one only if a host holding more gives one up
        Refused,  // logged
    };
    // Decides on a new connection from `peer`; its host's share is counted by hostKey.
    Verdict admit(const QHostAddress& peer, int openConnections);
    // Logs that a connection from `host` found every place taken and none to spare.
    void noteFull(const QString& host);
    void release(const QString& host);
    void clear() { m_openPerAddress.clear(); }
    int connectionCount(const QHostAddress& peer) const { return m_openPerAddress.value(hostKey(peer)); }
    int hostCount(const QString& host) const { return m_openPerAddress.value(host); }

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
    QHash<QString, int> m_openPerAddress;    // by host
    QHash<QString, qint64> m_refusalNotedMs; // by address, or "*" for the total
};
