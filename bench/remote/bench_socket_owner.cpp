// What it costs to ask who owns the other end of a connection to the command port, which is now
// done for every connection: the kernel's quick lookup for a peer on the network (no such socket
// here), against the full lookup that also reads /proc/net/tcp and tcp6 when the kernel finds
// nothing, and the lookup of a real loopback connection.
//
//   bench_socket_owner [lookups]

#include "platform/network/SocketOwnerLinux.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include <cstdio>
#include <functional>
#include <memory>

namespace {

// Microseconds per call of `lookup`, over `count` calls.
double perCall(int count, const std::function<void()>& lookup)
{
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < count; ++i)
        lookup();
    return double(clock.nsecsElapsed()) / 1000.0 / count;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? QByteArray(argv[1]).toInt() : 20000;
    SocketOwnerLinux owners;
    const QHostAddress phone(QStringLiteral("192.168.77.23"));
    const QHostAddress pc(QStringLiteral("192.168.77.1"));
    bool found = false;

    QTcpServer listener;
    if (!listener.listen(QHostAddress::Any)) {
        std::fprintf(stderr, "cannot listen\n");
        return 1;
    }
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, listener.serverPort());
    if (!client.waitForConnected(5000) || !listener.waitForNewConnection(5000)) {
        std::fprintf(stderr, "cannot connect\n");
        return 1;
    }
    std::unique_ptr<QTcpSocket> accepted(listener.nextPendingConnection());

    const double network =
        perCall(count, [&] { found |= bool(owners.kernelOwnerOf(phone, 40000, pc, 8888)); });
    const double networkFull =
        perCall(count / 10, [&] { found |= bool(owners.ownerOf(phone, 40000, pc, 8888)); });
    int ownerFound = 0;
    const double loopback = perCall(count, [&] {
        ownerFound += bool(owners.kernelOwnerOf(accepted->peerAddress(), accepted->peerPort(),
                                                accepted->localAddress(), accepted->localPort()));
    });
    std::printf("kernel lookup, peer on the network (not found): %.1f us\n", network);
    std::printf("full lookup with /proc tables, peer on the network (not found): %.1f us\n", networkFull);
    std::printf("kernel lookup, loopback connection (found %d of %d): %.1f us\n", ownerFound, count,
                loopback);
    return found ? 1 : 0;
}
