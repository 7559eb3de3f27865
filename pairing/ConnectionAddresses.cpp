#include "pairing/ConnectionAddresses.h"

#include <QSet>
#include <QStringList>

namespace {

// Virtual, tunnel and VPN adapters: a phone on the LAN cannot reach us through them.
const char* const kExcludedAdapterKeywords[] = {
    "vmware",    "virtualbox", "vbox",      "hyper-v",  "hyperv",    "vethernet", "wsl",    "wintun",
    "tunnel",    "teredo",     "tap",       "tun",      "docker",    "loopback",  "pseudo", "npcap",
    "bluetooth", "hamachi",    "tailscale", "zerotier", "wireguard", "openvpn",
};

bool hasExcludedKeyword(const QString& name)
{
    const QString lower = name.toLower();
    for (const char* keyword : kExcludedAdapterKeywords) {
        if (lower.contains(QLatin1String(keyword)))
            return true;
    }
    return false;
}

bool isUsableAdapter(const NetworkAdapter& adapter)
{
    const auto flags = adapter.flags;
    if (!flags.testFlag(QNetworkInterface::IsUp) || !flags.testFlag(QNetworkInterface::IsRunning))
        return false;
    if (flags.testFlag(QNetworkInterface::IsLoopBack) || flags.testFlag(QNetworkInterface::IsPointToPoint))
        return false;
    return !hasExcludedKeyword(adapter.humanReadableName) && !hasExcludedKeyword(adapter.name);
}

// The address as text when a phone could connect to it, otherwise an empty string.
QString usableIPv4Text(const QHostAddress& address)
{
    if (address.protocol() != QAbstractSocket::IPv4Protocol || address.isLoopback())
        return QString();
    const QString text = address.toString();
    // Link-local addresses are self-assigned when DHCP failed; the unspecified address is
    // nobody's address and a phone told to connect there would reach only itself.
    if (text.startsWith(QLatin1String("169.254.")) || text == QLatin1String("0.0.0.0"))
        return QString();
    return text;
}

} // namespace

ConnectionAddressList collectConnectionAddresses(const QList<NetworkAdapter>& adapters,
                                                 const QList<QHostAddress>& allAddresses)
{
    ConnectionAddressList result;
    QSet<QString> taken;

    for (const NetworkAdapter& adapter : adapters) {
        if (!isUsableAdapter(adapter))
            continue;
        for (const QHostAddress& address : adapter.addresses) {
            const QString text = usableIPv4Text(address);
            if (text.isEmpty() || taken.contains(text))
                continue;
            taken.insert(text);
            result.append(qMakePair(text, adapter.humanReadableName));
        }
    }

    // Adapter names differ wildly between systems; rather than show nothing, offer every
    // plausible address unfiltered.
    if (result.isEmpty()) {
        for (const QHostAddress& address : allAddresses) {
            const QString text = usableIPv4Text(address);
            if (text.isEmpty() || taken.contains(text))
                continue;
            taken.insert(text);
            result.append(qMakePair(text, QStringLiteral("IPv4")));
        }
    }
    return result;
}

QString preferredConnectionAddress(const ConnectionAddressList& addresses)
{
    if (addresses.isEmpty())
        return QString();
    // No ranking between the prefixes: the adapter order decides.
    for (const ConnectionAddress& entry : addresses) {
        const QString& text = entry.first;
        if (text.startsWith(QLatin1String("192.168.")) || text.startsWith(QLatin1String("10.")) ||
            text.startsWith(QLatin1String("172.")))
            return text;
    }
    return addresses.first().first;
}

QList<NetworkAdapter> systemNetworkAdapters()
{
    QList<NetworkAdapter> adapters;
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& iface : interfaces) {
        NetworkAdapter adapter;
        adapter.name = iface.name();
        adapter.humanReadableName = iface.humanReadableName();
        adapter.flags = iface.flags();
        const QList<QNetworkAddressEntry> entries = iface.addressEntries();
        for (const QNetworkAddressEntry& entry : entries)
            adapter.addresses.append(entry.ip());
        adapters.append(adapter);
    }
    return adapters;
}

QList<QHostAddress> systemAddresses()
{
    return QNetworkInterface::allAddresses();
}
