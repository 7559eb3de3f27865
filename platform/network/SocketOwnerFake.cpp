#include "platform/network/SocketOwnerFake.h"

std::optional<quint32> SocketOwnerFake::ownerOf(const QHostAddress&, quint16 endPort, const QHostAddress&,
                                                quint16)
{
    ++lookups;
    const auto owner = m_owners.constFind(endPort);
    if (owner == m_owners.constEnd())
        return std::nullopt;
    return *owner;
}
