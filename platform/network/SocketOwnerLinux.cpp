#include "platform/network/SocketOwnerLinux.h"

#include <QFile>
#include <QHostAddress>
#include <QList>

#include <array>
#include <cstring>

#include <arpa/inet.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

// The kernel answers at once; this only guards against a kernel that never does.
constexpr int kReplyTimeoutMs = 200;
// /proc/net/tcp grows with the machine's connections; more than this is not read.
constexpr qint64 kMaxTableBytes = 64 * 1024 * 1024;

using AddressBytes = std::array<quint8, 16>;

// `address` as the bytes of a socket of `family`; false when it cannot be one.
bool toFamilyBytes(const QHostAddress& address, int family, AddressBytes* bytes)
{
    bytes->fill(0);
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    if (family == AF_INET) {
        if (!isV4)
            return false;
        const quint32 network = htonl(v4);
        std::memcpy(bytes->data(), &network, sizeof network);
        return true;
    }
    if (address.protocol() != QAbstractSocket::IPv6Protocol && !isV4)
        return false;
    const Q_IPV6ADDR v6 = address.toIPv6Address(); // an IPv4 address comes back IPv4-mapped
    std::memcpy(bytes->data(), v6.c, 16);
    return true;
}

class Fd
{
public:
    explicit Fd(int fd)
        : m_fd(fd)
    {
    }
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

std::optional<quint32> askSockDiag(int family, const QHostAddress& end, quint16 endPort,
                                   const QHostAddress& other, quint16 otherPort)
{
    AddressBytes source{};
    AddressBytes destination{};
    if (!toFamilyBytes(end, family, &source) || !toFamilyBytes(other, family, &destination))
        return std::nullopt;
    const Fd fd(::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
    if (fd.get() < 0)
        return std::nullopt;
    timeval timeout{0, kReplyTimeoutMs * 1000};
    ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);

    struct
    {
        nlmsghdr header;
        inet_diag_req_v2 request;
    } message{};
    message.header.nlmsg_len = sizeof message;
    message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    message.header.nlmsg_flags = NLM_F_REQUEST; // one socket, looked up by its four ends
    message.header.nlmsg_seq = 1;
    message.request.sdiag_family = quint8(family);
    message.request.sdiag_protocol = IPPROTO_TCP;
    message.request.idiag_states = ~0u;
    message.request.id.idiag_sport = htons(endPort);
    message.request.id.idiag_dport = htons(otherPort);
    std::memcpy(message.request.id.idiag_src, source.data(), source.size());
    std::memcpy(message.request.id.idiag_dst, destination.data(), destination.size());
    message.request.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
    message.request.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;

    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(fd.get(), &message, sizeof message, 0, reinterpret_cast<const sockaddr*>(&kernel),
                 sizeof kernel) != ssize_t(sizeof message))
        return std::nullopt;

    alignas(nlmsghdr) char reply[8192];
    const ssize_t received = ::recv(fd.get(), reply, sizeof reply, 0);
    if (received <= 0)
        return std::nullopt;
    std::size_t offset = 0;
    const auto size = std::size_t(received);
    while (size - offset >= sizeof(nlmsghdr)) {
        nlmsghdr header;
        std::memcpy(&header, reply + offset, sizeof header);
        if (header.nlmsg_len < sizeof header || header.nlmsg_len > size - offset)
            break;
        if (header.nlmsg_type == NLMSG_ERROR || header.nlmsg_type == NLMSG_DONE)
            break; // ENOENT, for one: no such socket
        if (header.nlmsg_type == SOCK_DIAG_BY_FAMILY &&
            header.nlmsg_len >= NLMSG_LENGTH(sizeof(inet_diag_msg))) {
            inet_diag_msg answer;
            std::memcpy(&answer, reply + offset + NLMSG_HDRLEN, sizeof answer);
            if (ntohs(answer.id.idiag_sport) == endPort && ntohs(answer.id.idiag_dport) == otherPort)
                return answer.idiag_uid;
        }
        offset += NLMSG_ALIGN(header.nlmsg_len);
    }
    return std::nullopt;
}

bool parseHex(const QByteArray& text, quint32* value)
{
    bool ok = false;
    *value = text.toUInt(&ok, 16);
    return ok;
}

// "0100007F:1F90" (IPv4) or 32 hex digits and a port (IPv6): the kernel prints each 32-bit
// word of the address as the number its bytes make in this machine's order.
bool parseEndpoint(const QByteArray& text, QHostAddress* address, quint16* port)
{
    const int colon = text.indexOf(':');
    quint32 portValue = 0;
    if (colon < 0 || !parseHex(text.mid(colon + 1), &portValue) || portValue > 0xFFFF)
        return false;
    *port = quint16(portValue);
    const QByteArray hex = text.left(colon);
    if (hex.size() != 8 && hex.size() != 32)
        return false;
    Q_IPV6ADDR bytes{};
    for (int word = 0; word < hex.size() / 8; ++word) {
        quint32 value = 0;
        if (!parseHex(hex.mid(word * 8, 8), &value))
            return false;
        std::memcpy(bytes.c + word * 4, &value, sizeof value);
    }
    if (hex.size() == 8) {
        quint32 network = 0;
        std::memcpy(&network, bytes.c, sizeof network);
        *address = QHostAddress(ntohl(network));
    } else {
        *address = QHostAddress(bytes);
    }
    return true;
}

bool sameAddress(const QHostAddress& a, const QHostAddress& b)
{
    return a.isEqual(b, QHostAddress::ConvertV4MappedToIPv4);
}

std::optional<quint32> readProcNet(const char* path, const QHostAddress& end, quint16 endPort,
                                   const QHostAddress& other, quint16 otherPort)
{
    QFile file(QString::fromLatin1(path));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return ownerInProcNetTable(file.read(kMaxTableBytes), end, endPort, other, otherPort);
}

} // namespace

std::optional<quint32> ownerInProcNetTable(const QByteArray& table, const QHostAddress& end, quint16 endPort,
                                           const QHostAddress& other, quint16 otherPort)
{
    const QList<QByteArray> lines = table.split('\n');
    for (int i = 1; i < lines.size(); ++i) { // the first line names the columns
        // sl local_address rem_address st tx_queue:rx_queue tr:tm->when retrnsmt uid ...
        const QList<QByteArray> fields = lines.at(i).simplified().split(' ');
        if (fields.size() < 8)
            continue;
        QHostAddress local;
        QHostAddress remote;
        quint16 localPort = 0;
        quint16 remotePort = 0;
        if (!parseEndpoint(fields.at(1), &local, &localPort) ||
            !parseEndpoint(fields.at(2), &remote, &remotePort))
            continue;
        if (localPort != endPort || remotePort != otherPort || !sameAddress(local, end) ||
            !sameAddress(remote, other))
            continue;
        bool ok = false;
        const quint32 uid = fields.at(7).toUInt(&ok);
        if (ok)
            return uid;
    }
    return std::nullopt;
}

std::optional<quint32> SocketOwnerLinux::ownerOf(const QHostAddress& end, quint16 endPort,
                                                 const QHostAddress& other, quint16 otherPort)
{
    if (const auto owner = kernelOwnerOf(end, endPort, other, otherPort))
        return owner;
    if (const auto owner = readProcNet("/proc/net/tcp", end, endPort, other, otherPort))
        return owner;
    return readProcNet("/proc/net/tcp6", end, endPort, other, otherPort);
}

std::optional<quint32> SocketOwnerLinux::kernelOwnerOf(const QHostAddress& end, quint16 endPort,
                                                       const QHostAddress& other, quint16 otherPort)
{
    // An IPv4 peer of a dual-stack listener shows as IPv4-mapped, while its own socket is
    // usually plain IPv4; either may be the case.
    for (const int family : {AF_INET, AF_INET6}) {
        if (const auto owner = askSockDiag(family, end, endPort, other, otherPort))
            return owner;
    }
    return std::nullopt;
}

quint32 SocketOwnerLinux::currentUser() const
{
    return ::geteuid();
}

std::unique_ptr<SocketOwner> createSocketOwner()
{
    return std::make_unique<SocketOwnerLinux>();
}
