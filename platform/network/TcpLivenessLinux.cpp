#include "platform/network/TcpLiveness.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace {

bool setOption(int fd, int level, int name, int value)
{
    return ::setsockopt(fd, level, name, &value, sizeof value) == 0;
}

} // namespace

bool applyTcpLiveness(qintptr descriptor, const TcpLiveness& liveness)
{
    if (descriptor < 0)
        return false;
    const int fd = int(descriptor);
    bool ok = setOption(fd, SOL_SOCKET, SO_KEEPALIVE, 1);
    ok = setOption(fd, IPPROTO_TCP, TCP_KEEPIDLE, liveness.idleSeconds) && ok;
    ok = setOption(fd, IPPROTO_TCP, TCP_KEEPINTVL, liveness.intervalSeconds) && ok;
    ok = setOption(fd, IPPROTO_TCP, TCP_KEEPCNT, liveness.probes) && ok;
    ok = setOption(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, liveness.unacknowledgedSeconds * 1000) && ok;
    return ok;
}
