#include "remote/LocalNetwork.h"

#include <QNetworkInterface>

#include <algorithm>

namespace {

// An IPv4-mapped IPv6 address as the IPv4 address it stands for; anything else unchanged.
QHostAddress unmapped(const QHostAddress& address)
{
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    if (isV4 && address.protocol() == QAbstractSocket::IPv6Protocol)
        return QHostAddress(v4);
    QHostAddress plain = address;
    plain.setScopeId(QString());
    return plain;
}

} // namespace

bool isLocalNetworkPeer(const QHostAddress& peer, const QList<InterfacePrefix>& prefixes)
{
    const QHostAddress address = unmapped(peer);
    if (address.isNull())
        return false;
    if (address.isLoopback() || address.isLinkLocal())
        return true;
    for (const InterfacePrefix& prefix : prefixes) {
        const QHostAddress own = unmapped(prefix.address);
        const int maxLength = own.protocol() == QAbstractSocket::IPv4Protocol ? 32 : 128;
        if (prefix.prefixLength <= 0 || prefix.prefixLength > maxLength)
            continue;
        if (own.protocol() == address.protocol() && address.isInSubnet(own, prefix.prefixLength))
            return true;
    }
    return false;
}

bool isAddressOfThisMachine(const QHostAddress& address, const QList<InterfacePrefix>& prefixes)
{
    const QHostAddress plain = unmapped(address);
    if (plain.isNull())
        return false;
    if (plain.isLoopback())
        return true;
    return std::any_of(prefixes.cbegin(), prefixes.cend(),
                       [&plain](const InterfacePrefix& prefix) { return unmapped(prefix.address) == plain; });
}

QList<InterfacePrefix> systemInterfacePrefixes()
{
    QList<InterfacePrefix> prefixes;
    for (const QNetworkInterface& interface : QNetworkInterface::allInterfaces()) {
        if (!interface.flags().testFlag(QNetworkInterface::IsUp))
            continue;
        for (const QNetworkAddressEntry& entry : interface.addressEntries())
            prefixes.append({entry.ip(), entry.prefixLength()});
    }
    return prefixes;
}

QString peerAddressKey(const QHostAddress& peer)
{
    return unmapped(peer).toString();
}
