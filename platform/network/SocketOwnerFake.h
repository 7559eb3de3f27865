#pragma once

#include "platform/network/SocketOwner.h"

#include <QHash>

// Owners chosen by the test, by the port of the socket's own end; records the lookups.
class SocketOwnerFake final : public SocketOwner
{
public:
    explicit SocketOwnerFake(quint32 currentUser = 1000)
        : m_currentUser(currentUser)
    {
    }
    std::optional<quint32> ownerOf(const QHostAddress& end, quint16 endPort, const QHostAddress& other,
                                   quint16 otherPort) override;
    std::optional<quint32> kernelOwnerOf(const QHostAddress& end, quint16 endPort, const QHostAddress& other,
                                         quint16 otherPort) override
    {
        return ownerOf(end, endPort, other, otherPort);
    }
    quint32 currentUser() const override { return m_currentUser; }

    // The socket whose own end has `port` belongs to `user`; ports not set have no known owner.
    void setOwner(quint16 port, quint32 user) { m_owners.insert(port, user); }
    void clearOwner(quint16 port) { m_owners.remove(port); }
    int lookups = 0;

private:
    quint32 m_currentUser;
    QHash<quint16, quint32> m_owners;
};
