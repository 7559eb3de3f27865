// Long-run memory of the command server and the HTTP server: one million commands from one
// phone, ten thousand phone connections that close, reset or are displaced, and ten thousand
// HTTP connections, all over loopback against the real servers. Resident memory is taken after
// a warm-up round of each kind and again at the end; it must stay within 5 %.
//
//   bench_soak [--short] [scale]   (--short: a tenth of the load, a few seconds)
//
// Prints one line per phase and exits 1 when memory grew by more than 5 %.

#include "platform/input/InputBackendFake.h"
#include "remote/Server.h"
#include "web/HttpServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// Resident memory of this process in KiB.
long residentKiB()
{
    long pages = 0;
    long resident = 0;
    FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr || std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
        resident = 0;
    if (statm != nullptr)
        std::fclose(statm);
    return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

[[noreturn]] void fail(const char* what)
{
    std::perror(what);
    std::_Exit(2);
}

int connectTo(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        fail("connect");
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

void writeAll(int fd, const QByteArray& bytes)
{
    const char* data = bytes.constData();
    size_t size = size_t(bytes.size());
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0)
            fail("send");
        data += n;
        size -= size_t(n);
    }
}

// Reads until `lines` line feeds have arrived (replies are one line each).
void readLines(int fd, int lines)
{
    char buffer[65536];
    while (lines > 0) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            fail("recv");
        for (ssize_t i = 0; i < n; ++i)
            lines -= buffer[i] == '\n' ? 1 : 0;
    }
}

// Reads one HTTP response (head and a body of Content-Length bytes); false if there is none.
bool readResponse(int fd)
{
    QByteArray received;
    char buffer[65536];
    qint64 wanted = -1; // head and body, once the head is complete
    while (wanted < 0 || received.size() < wanted) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return false;
        received.append(buffer, int(n));
        const int headEnd = received.indexOf("\r\n\r\n");
        if (wanted < 0 && headEnd >= 0) {
            const QByteArray head = received.left(headEnd).toLower();
            const int at = head.indexOf("content-length:");
            if (at < 0)
                return false;
            const int end = head.indexOf('\r', at);
            wanted = headEnd + 4 + head.mid(at + 15, end < 0 ? -1 : end - at - 15).trimmed().toLongLong();
        }
    }
    return true;
}

void closeHard(int fd)
{
    const linger hard{1, 0}; // a zero linger time resets the connection
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    ::close(fd);
}

const QByteArray kExplore = R"({"command":"mediaexplore","params":{"path":"/"}})"
                            "\n";

// A block of `count` commands of every kind the phone sends (that need no database and start
// nothing), ending with a listing request whose reply shows the server has caught up.
QByteArray commandBlock(int count)
{
    static const QByteArray kinds[] = {
        R"({"command":"mousemove","params":{"dx":3,"dy":-2}})",
        R"({"command":"mousemove","params":{"dx":640,"dy":360,"absolute":true}})",
        R"({"command":"mouseclick","params":{"button":"right","timestamp":1700000000000}})",
        R"({"command":"mousedown","params":{"button":"left"}})",
        R"({"command":"mouseup","params":{"button":"left"}})",
        R"({"command":"mousewheel","params":{"amount":-1}})",
        R"({"command":"keyinput","params":{"text":"h\u00e9llo \ud83d\ude00","keycodes":[17,67]}})",
        R"({"command":"nosuchcommand","params":{}})",
        R"(not json at all)",
    };
    QByteArray block;
    for (int i = 0; i < count - 1; ++i)
        block += kinds[i % (sizeof kinds / sizeof kinds[0])] + '\n';
    return block + kExplore;
}

struct Ports
{
    quint16 command = 0;
    quint16 http = 0;
};

// One million commands in blocks of a thousand over one connection.
void commands(const Ports& ports, int total)
{
    const int fd = connectTo(ports.command);
    const QByteArray block = commandBlock(1000);
    for (int sent = 0; sent < total; sent += 1000) {
        writeAll(fd, block);
        readLines(fd, 1);
    }
    ::close(fd);
}

// Phones that connect, send a few commands, see them handled, and go: by closing, by a
// reset, or by being displaced by the next one.
void reconnects(const Ports& ports, int total)
{
    const QByteArray block = commandBlock(10);
    int displaced = -1;
    for (int i = 0; i < total; ++i) {
        const int fd = connectTo(ports.command);
        if (displaced >= 0) {
            ::close(displaced);
            displaced = -1;
        }
        writeAll(fd, block);
        readLines(fd, 1);
        switch (i % 3) {
        case 0:
            ::close(fd);
            break;
        case 1:
            closeHard(fd);
            break;
        default:
            displaced = fd;
        }
    }
    if (displaced >= 0)
        ::close(displaced);
}

// HTTP connections, each with one request: the client's page, or a file that is not there.
void httpConnections(const Ports& ports, int total)
{
    const QByteArray page = "GET /index.html HTTP/1.1\r\nHost: soak\r\nConnection: close\r\n\r\n";
    const QByteArray missing = "GET /missing.js HTTP/1.1\r\nHost: soak\r\nConnection: close\r\n\r\n";
    for (int i = 0; i < total; ++i) {
        const int fd = connectTo(ports.http);
        writeAll(fd, i % 4 == 3 ? missing : page);
        if (!readResponse(fd))
            fail("HTTP answer");
        ::close(fd);
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    double scale = 1.0;
    for (const QString& argument : QCoreApplication::arguments().mid(1))
        scale = argument == QLatin1String("--short") ? 0.1 : argument.toDouble();
    if (scale <= 0) {
        std::fprintf(stderr, "usage: bench_soak [--short] [scale]\n");
        return 2;
    }
    const int commandCount = std::max(1000, int(1000000 * scale) / 1000 * 1000);
    const int reconnectCount = std::max(30, int(10000 * scale));
    const int httpCount = std::max(30, int(10000 * scale));

    // Every log line is formatted, as in the real program, then dropped.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});

    QTemporaryDir folder;
    QDir(folder.path()).mkpath(QStringLiteral("mobile"));
    QFile index(folder.path() + QStringLiteral("/mobile/index.html"));
    if (!index.open(QIODevice::WriteOnly) || index.write(QByteArray(10240, 'x')) != 10240)
        fail("index.html");
    index.close();

    auto backend = std::make_unique<InputBackendFake>();
    backend->setRecording(false); // counts batches without keeping them
    Server server(std::move(backend), nullptr);
    HttpServer http;
    http.setClientFolders({folder.path() + QStringLiteral("/mobile")});
    if (!server.start(0) || !http.start(0))
        fail("listen");
    const Ports ports{server.serverPort(), http.port()};

    long startKiB = 0;
    long endKiB = 0;
    int status = 0;
    std::thread load([&] {
        const auto phase = [](const char* name, int count, const std::function<void()>& run) {
            const auto start = Clock::now();
            run();
            const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
            std::printf("%-22s %9d in %7.1f s, resident %ld KiB\n", name, count, seconds, residentKiB());
            std::fflush(stdout);
        };
        // Warm-up: caches, pools and buffers reach their working size.
        phase("warm-up", 0, [&] {
            commands(ports, std::max(1000, commandCount / 100));
            reconnects(ports, std::max(30, reconnectCount / 100));
            httpConnections(ports, std::max(30, httpCount / 100));
        });
        QThread::msleep(200); // sockets released with deleteLater are gone
        startKiB = residentKiB();
        phase("commands", commandCount, [&] { commands(ports, commandCount); });
        phase("phone reconnects", reconnectCount, [&] { reconnects(ports, reconnectCount); });
        phase("HTTP connections", httpCount, [&] { httpConnections(ports, httpCount); });
        QThread::msleep(200);
        endKiB = residentKiB();
        const double growth = 100.0 * double(endKiB - startKiB) / double(startKiB);
        std::printf("resident memory: %ld KiB after the warm-up, %ld KiB at the end (%+.1f %%)\n", startKiB,
                    endKiB, growth);
        status = growth > 5.0 ? 1 : 0;
        if (status != 0)
            std::printf("FAIL: resident memory grew by more than 5 %%\n");
        QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
    });
    app.exec();
    load.join();
    return status;
}
