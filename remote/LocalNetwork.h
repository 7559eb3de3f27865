#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>

// One address of one of this machine's network interfaces with the length of its prefix:
// together they name a subnet the machine sits in.
struct InterfacePrefix
{
    QHostAddress address;
    int prefixLength = -1;
};

// Whether `peer` is this machine, a link-local neighbour, or inside the subnet of one of
// `prefixes` (IPv4 and IPv6; an IPv4 peer written as an IPv4-mapped IPv6 address counts as
// the IPv4 address). A prefix that covers everything (length 0) or whose length is unknown
// proves nothing and is ignored.
bool isLocalNetworkPeer(const QHostAddress& peer, const QList<InterfacePrefix>& prefixes);

// Whether `address` is loopback or one of the addresses in `prefixes` (this machine's own). A
// program of this machine may connect from any of them, whichever address it connects to.
bool isAddressOfThisMachine(const QHostAddress& address, const QList<InterfacePrefix>& prefixes);

// The address prefixes of this machine's interfaces that are up, read afresh on every call.
QList<InterfacePrefix> systemInterfacePrefixes();

// The text a peer address is known by (logs, the remembered phones): an IPv4-mapped IPv6
// address as plain IPv4, and without an IPv6 scope, so that one phone has one name.
QString peerAddressKey(const QHostAddress& peer);
