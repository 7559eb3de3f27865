#pragma once

#include <QHostAddress>
#include <QList>
#include <QNetworkInterface>
#include <QPair>
#include <QString>
#include <QVector>

// One network adapter as the address selection sees it; filled from QNetworkInterface on
// a real machine and by hand in tests.
struct NetworkAdapter
{
    QString name;              // system name, e.g. "wlp2s0"
    QString humanReadableName; // what the user knows it by, e.g. "Wi-Fi"
    QNetworkInterface::InterfaceFlags flags;
    QList<QHostAddress> addresses;
};

// Address text (dotted decimal) and the label shown beside it.
using ConnectionAddress = QPair<QString, QString>;
using ConnectionAddressList = QVector<ConnectionAddress>;

// The usable LAN IPv4 addresses of `adapters`, in order, each listed once. When no adapter
// yields one, falls back to `allAddresses` labelled "IPv4".
ConnectionAddressList collectConnectionAddresses(const QList<NetworkAdapter>& adapters,
                                                 const QList<QHostAddress>& allAddresses);

// The entry to pre-select: the first private-looking address, else the first one; empty
// for an empty list.
QString preferredConnectionAddress(const ConnectionAddressList& addresses);

// This machine's adapters and addresses, read afresh on every call.
QList<NetworkAdapter> systemNetworkAdapters();
QList<QHostAddress> systemAddresses();
