#pragma once

#include "platform/network/SocketOwner.h"

#include <QByteArray>

// Asks the kernel's socket diagnostics (sock_diag netlink) for the socket, and reads
// /proc/net/tcp and /proc/net/tcp6 where that gives no answer.
class SocketOwnerLinux final : public SocketOwner
{
public:
    std::optional<quint32> ownerOf(const QHostAddress& end, quint16 endPort, const QHostAddress& other,
                                   quint16 otherPort) override;
    std::optional<quint32> kernelOwnerOf(const QHostAddress& end, quint16 endPort, const QHostAddress& other,
                                         quint16 otherPort) override;
    quint32 currentUser() const override;
};

// The owner of the socket `end`:`endPort` connected to `other`:`otherPort` in the text of a
// /proc/net/tcp or /proc/net/tcp6 table; an IPv4 address matches its IPv4-mapped IPv6 form.
std::optional<quint32> ownerInProcNetTable(const QByteArray& table, const QHostAddress& end, quint16 endPort,
                                           const QHostAddress& other, quint16 otherPort);
