#include "web/HostCheck.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QHostInfo>
#include <QNetworkInterface>

namespace {

// Far longer than any name a browser sends (255 for the name, the port, the brackets).
constexpr int kMaxHostBytes = 300;

// One text per address: an IPv4 peer of the dual-stack listener arrives IPv4-mapped, and a
// link-local address carries its interface, which no browser writes.
QString addressText(QHostAddress address)
{
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    if (isV4)
        return QHostAddress(v4).toString();
    address.setScopeId(QString());
    return address.toString();
}

QString normalisedName(QString name)
{
    if (name.startsWith(QLatin1Char('[')) && name.endsWith(QLatin1Char(']')))
        name = name.mid(1, name.size() - 2);
    QHostAddress address;
    if (address.setAddress(name))
        return addressText(address);
    if (name.endsWith(QLatin1Char('.')))
        name.chop(1);
    return name.toLower();
}

bool isNameCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_';
}

bool parsePort(const QByteArray& text, int* port)
{
    if (text.isEmpty() || text.size() > 5)
        return false;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    *port = text.toInt();
    return *port <= 65535;
}

HostCheck::Clock steadyClock()
{
    QElapsedTimer timer;
    timer.start();
    return [timer] {
        return timer.elapsed();
    };
}

} // namespace

HostCheck::HostCheck()
    : HostCheck(&HostCheck::systemNames, steadyClock())
{
}

HostCheck::HostCheck(NameSource source, Clock clock)
    : m_source(std::move(source))
    , m_clock(std::move(clock))
{
}

bool HostCheck::isOwnHost(const QByteArray& host, const QHostAddress& local)
{
    QString name;
    int port = -1;
    return splitHost(host, &name, &port) && isOwnName(name, local);
}

bool HostCheck::isOwnName(const QString& name, const QHostAddress& local)
{
    if (name.isEmpty())
        return false;
    if (!local.isNull() && name == addressText(local))
        return true;
    if (!m_read)
        refresh();
    if (m_names.contains(name))
        return true;
    if (m_clock() - m_readAtMs < RefreshMs)
        return false;
    refresh();
    return m_names.contains(name);
}

void HostCheck::refresh()
{
    m_names.clear();
    for (const QString& name : m_source()) {
        const QString normalised = normalisedName(name);
        if (!normalised.isEmpty())
            m_names.insert(normalised);
    }
    m_readAtMs = m_clock();
    m_read = true;
}

bool HostCheck::splitHost(const QByteArray& host, QString* name, int* port)
{
    if (host.isEmpty() || host.size() > kMaxHostBytes)
        return false;
    QByteArray portText;
    bool hasPort = false;
    if (host.startsWith('[')) {
        const int close = host.indexOf(']');
        if (close < 0)
            return false;
        const QByteArray rest = host.mid(close + 1);
        if (!rest.isEmpty()) {
            if (!rest.startsWith(':'))
                return false;
            hasPort = true;
            portText = rest.mid(1);
        }
        QHostAddress address;
        const QByteArray inner = host.mid(1, close - 1);
        // No zone: "%" would let one address pass under many spellings.
        if (inner.contains('%') || !address.setAddress(QString::fromLatin1(inner)) ||
            address.protocol() != QAbstractSocket::IPv6Protocol)
            return false;
        *name = addressText(address);
    } else {
        const int colon = host.indexOf(':');
        const QByteArray nameText = colon < 0 ? host : host.left(colon);
        if (colon >= 0) {
            hasPort = true;
            portText = host.mid(colon + 1);
        }
        for (const char c : nameText) {
            if (!isNameCharacter(c))
                return false;
        }
        *name = normalisedName(QString::fromLatin1(nameText)); // one final dot goes
        if (name->isEmpty())
            return false;
    }
    *port = -1;
    return !hasPort || parsePort(portText, port);
}

bool HostCheck::splitOrigin(const QByteArray& origin, QString* name, int* port)
{
    // Browsers serialise an origin in lowercase, without a path or a final slash.
    static const QByteArray scheme("http://");
    return origin.startsWith(scheme) && splitHost(origin.mid(scheme.size()), name, port);
}

QStringList HostCheck::systemNames()
{
    QStringList names{QStringLiteral("localhost")};
    for (const QHostAddress& address : QNetworkInterface::allAddresses())
        names << address.toString();
    const QString host = QHostInfo::localHostName();
    if (!host.isEmpty())
        names << host << host + QStringLiteral(".local");
    return names;
}
