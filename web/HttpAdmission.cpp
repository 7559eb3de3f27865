#include "web/HttpAdmission.h"

#include "web/HostCheck.h"
#include "web/HttpRequestParser.h"
#include "web/HttpResponse.h"

#include <QDebug>
#include <QHostAddress>
#include <QUrl>

#include <algorithm>

namespace {

// Refusals of one kind from one address are logged once in this time, so that a flood of them
// cannot flood the log as well.
constexpr qint64 kRefusalNoteMs = 60000;

// A header value as it may appear in the log: short, and quoted with its escapes by QDebug.
QString shown(const QByteArray& value)
{
    return QString::fromLatin1(value.left(80));
}

} // namespace

HttpAdmission::HttpAdmission(int maxConnections, int maxPerAddress, std::function<qint64()> nowMs)
    : m_maxConnections(maxConnections)
    , m_maxPerAddress(maxPerAddress)
    , m_nowMs(std::move(nowMs))
    , m_hostCheck(std::make_shared<HostCheck>())
{
}

HttpAdmission::~HttpAdmission() = default;

QString HttpAdmission::addressKey(const QHostAddress& address)
{
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4).toString() : address.toString();
}

QString HttpAdmission::hostKey(const QHostAddress& address)
{
    bool isV4 = false;
    address.toIPv4Address(&isV4);
    if (isV4 || address.protocol() != QAbstractSocket::IPv6Protocol || address.isLoopback() ||
        address.isLinkLocal())
        return addressKey(address);
    Q_IPV6ADDR prefix = address.toIPv6Address();
    std::fill(prefix.c + 8, prefix.c + 16, quint8(0));
    return QHostAddress(prefix).toString() + QStringLiteral("/64");
}

HttpAdmission::Verdict HttpAdmission::admit(const QHostAddress& peer, int openConnections)
{
    if (m_peerFilter && !m_peerFilter(peer)) {
        // An IPv4 peer reaches the dual-stack listener IPv4-mapped; it is logged as IPv4.
        bool isV4 = false;
        const quint32 v4 = peer.toIPv4Address(&isV4);
        qWarning().noquote() << "Connection refused, not from the local network:"
                             << (isV4 ? QHostAddress(v4) : peer).toString();
        return Verdict::Refused;
    }
    const QString host = hostKey(peer);
    if (m_openPerAddress.value(host) >= m_maxPerAddress) {
        noteRefusal(host,
                    QStringLiteral("Too many HTTP connections from one address, closing new ones from ") +
                        host);
        return Verdict::Refused;
    }
    if (openConnections >= m_maxConnections)
        return Verdict::Full;
    ++m_openPerAddress[host];
    return Verdict::Admitted;
}

void HttpAdmission::noteFull(const QString& host)
{
    noteRefusal(QStringLiteral("*"),
                QStringLiteral("Too many HTTP connections, closing new ones; the first from ") + host);
}

void HttpAdmission::release(const QString& host)
{
    const auto open = m_openPerAddress.find(host);
    if (open != m_openPerAddress.end() && --*open <= 0)
        m_openPerAddress.erase(open);
}

QByteArray HttpAdmission::refusalFor(const HttpRequest& request, const QHostAddress& peer,
                                     const QHostAddress& local)
{
    // HTTP/1.1 requires exactly one Host; only an HTTP/1.0 client (never a browser) may omit it.
    const QList<QByteArray> hosts = request.headerValues("Host");
    const QByteArray named = hosts.value(0);
    if (hosts.size() > 1 || (hosts.size() == 1 && named.isEmpty()) ||
        (hosts.isEmpty() && request.version != QLatin1String("HTTP/1.0"))) {
        const QString address = addressKey(peer);
        noteRefusal(QStringLiteral("Host ") + address,
                    QStringLiteral("HTTP request refused, not exactly one Host header, from ") + address);
        return HttpResponse::error(400, QStringLiteral("Bad Request"), "Connection: close\r\n");
    }
    // A target in absolute form names its host too; it must be this PC as well.
    const QString targetHost = QUrl(request.target, QUrl::TolerantMode).host(QUrl::FullyEncoded);
    const bool own =
        (named.isEmpty() || m_hostCheck->isOwnHost(named, local)) &&
        (targetHost.isEmpty() ||
         m_hostCheck->isOwnHost(
             (targetHost.contains(QLatin1Char(':')) ? '[' + targetHost + ']' : targetHost).toLatin1(),
             local));
    if (own)
        return QByteArray();
    const QString address = addressKey(peer);
    QString line;
    QDebug(&line) << "HTTP request refused, addressed to another host:"
                  << shown(named.isEmpty() ? targetHost.toLatin1() : named) << "from" << qPrintable(address);
    noteRefusal(QStringLiteral("Host ") + address, line.trimmed());
    return HttpResponse::error(421, QStringLiteral("Misdirected Request"), "Connection: close\r\n");
}

void HttpAdmission::noteRefusal(const QString& key, const QString& line)
{
    const qint64 now = m_nowMs();
    const auto noted = m_refusalNotedMs.constFind(key);
    if (noted != m_refusalNotedMs.cend() && now - *noted >= 0 && now - *noted < kRefusalNoteMs)
        return;
    if (m_refusalNotedMs.size() >= 1024)
        m_refusalNotedMs.clear(); // at worst one more line per address
    m_refusalNotedMs.insert(key, now);
    qWarning().noquote() << line;
}
