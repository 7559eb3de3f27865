#pragma once

#include <QtGlobal>

#include <memory>
#include <optional>

class QHostAddress;

// Which local user holds the other end of a TCP connection that comes from this machine, so
// that a connection over loopback, or to and from any of the machine's addresses, can be told
// apart by who made it.
class SocketOwner
{
public:
    virtual ~SocketOwner() = default;
    // The user id owning the TCP socket whose own end is `end`:`endPort` and that is connected
    // to `other`:`otherPort`; nothing when no such socket is found or the system does not say.
    virtual std::optional<quint32> ownerOf(const QHostAddress& end, quint16 endPort,
                                           const QHostAddress& other, quint16 otherPort) = 0;
    // The same from the kernel's quick lookup alone, cheap enough for every connection from the
    // network: nothing also where the kernel keeps no such lookup.
    virtual std::optional<quint32> kernelOwnerOf(const QHostAddress& end, quint16 endPort,
                                                 const QHostAddress& other, quint16 otherPort) = 0;
    // The user id this process runs as.
    virtual quint32 currentUser() const = 0;
};

// The platform's lookup.
std::unique_ptr<SocketOwner> createSocketOwner();
