// Throughput and latency of "mousemove" messages through the real TCP command server into
// the recording input backend, against a raw loopback line reader as the limit.
//
//   bench_command_server [messages] [repetitions]
//
// Results go to standard output; the server's log (when switched on) goes to /dev/null.

#include "platform/input/InputBackendFake.h"
#include "remote/Server.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QLoggingCategory>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

QByteArray moveLine(int dx)
{
    return QByteArray(R"({"command":"mousemove","params":{"dx":)") + QByteArray::number(dx) +
           R"(,"dy":-3}})" + '\n';
}

int connectTo(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        std::perror("connect");
        std::exit(2);
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

void writeAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0) {
            std::perror("send");
            std::exit(2);
        }
        data += n;
        size -= size_t(n);
    }
}

// The phone: runs on its own thread; `pace` 0 writes everything at once, otherwise one
// message per period. Records when each message was handed to the kernel.
class Sender
{
public:
    Sender(quint16 port, int count, std::chrono::nanoseconds pace, bool perMessage)
        : m_sent(size_t(count))
    {
        m_thread = std::thread([=] {
            const int fd = connectTo(port);
            std::vector<QByteArray> lines;
            lines.reserve(size_t(count));
            for (int i = 0; i < count; ++i)
                lines.push_back(moveLine(i));
            m_start = Clock::now();
            if (!perMessage) {
                QByteArray all;
                for (const QByteArray& line : lines)
                    all += line;
                writeAll(fd, all.constData(), size_t(all.size()));
            } else {
                auto next = Clock::now();
                for (int i = 0; i < count; ++i) {
                    if (pace.count() > 0) {
                        std::this_thread::sleep_until(next);
                        next += pace;
                    }
                    m_sent[size_t(i)] = Clock::now();
                    writeAll(fd, lines[size_t(i)].constData(), size_t(lines[size_t(i)].size()));
                }
            }
            // Stay connected until the reader is done: a phone that leaves early loses the rest.
            while (!m_done.load())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            ::close(fd);
        });
    }
    ~Sender()
    {
        m_done = true;
        m_thread.join();
    }
    Clock::time_point start() const { return m_start; }
    const std::vector<Clock::time_point>& sent() const { return m_sent; }

private:
    std::vector<Clock::time_point> m_sent;
    Clock::time_point m_start;
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};

void runUntil(const std::function<bool()>& finished)
{
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (finished())
            loop.quit();
    });
    poll.start(1);
    loop.exec();
}

// Messages per second through the command server.
double serverRate(int messages, bool logging)
{
    QLoggingCategory::setFilterRules(logging ? QStringLiteral("*.debug=true\nqt.*.debug=false")
                                             : QStringLiteral("*.debug=false"));
    auto fake = std::make_unique<InputBackendFake>();
    fake->setRecording(false);
    int seen = 0;
    Clock::time_point last;
    fake->setSendHook([&](const QVector<InputRecord>&) {
        ++seen;
        last = Clock::now();
    });
    Server server(std::move(fake), nullptr);
    if (!server.start(0))
        std::exit(2);
    Clock::time_point start;
    {
        Sender sender(server.serverPort(), messages, {}, false);
        runUntil([&] { return seen >= messages; });
        start = sender.start();
    }
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    return messages / std::chrono::duration<double>(last - start).count();
}

// Messages per second of a reader that only counts line feeds.
double rawRate(int messages)
{
    QTcpServer listener;
    if (!listener.listen(QHostAddress::LocalHost, 0))
        std::exit(2);
    qint64 lines = 0;
    Clock::time_point last;
    QTcpSocket* socket = nullptr;
    QObject::connect(&listener, &QTcpServer::newConnection, [&] {
        socket = listener.nextPendingConnection();
        QObject::connect(socket, &QTcpSocket::readyRead, [&] {
            lines += socket->readAll().count('\n');
            last = Clock::now();
        });
    });
    Clock::time_point start;
    {
        Sender sender(listener.serverPort(), messages, {}, false);
        runUntil([&] { return lines >= messages; });
        start = sender.start();
    }
    return messages / std::chrono::duration<double>(last - start).count();
}

struct Latency
{
    double p50 = 0;
    double p99 = 0;
};

// Time from handing a message to the kernel to its injection, in microseconds.
Latency latency(int messages, std::chrono::nanoseconds pace)
{
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    auto fake = std::make_unique<InputBackendFake>();
    fake->setRecording(false);
    std::vector<Clock::time_point> injected(static_cast<size_t>(messages));
    int seen = 0;
    fake->setSendHook([&](const QVector<InputRecord>& records) {
        const int index = records.first().dx;
        if (index >= 0 && index < messages)
            injected[size_t(index)] = Clock::now();
        ++seen;
    });
    Server server(std::move(fake), nullptr);
    if (!server.start(0))
        std::exit(2);
    std::vector<double> micros;
    {
        Sender sender(server.serverPort(), messages, pace, true);
        runUntil([&] { return seen >= messages; });
        for (int i = 0; i < messages; ++i)
            micros.push_back(
                std::chrono::duration<double, std::micro>(injected[size_t(i)] - sender.sent()[size_t(i)])
                    .count());
    }
    std::sort(micros.begin(), micros.end());
    return {micros[micros.size() / 2], micros[std::min(micros.size() - 1, micros.size() * 99 / 100)]};
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    // The log rules are set per measurement below; an inherited setting would override them.
    qunsetenv("QT_LOGGING_RULES");
    QCoreApplication app(argc, argv);
    const int messages = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int repetitions = argc > 2 ? std::atoi(argv[2]) : 5;

    // The server's log goes nowhere, but is still formatted and written.
    const int devNull = ::open("/dev/null", O_WRONLY);
    ::dup2(devNull, STDERR_FILENO);

    std::vector<double> quiet, logged, raw;
    for (int r = 0; r < repetitions; ++r) {
        raw.push_back(rawRate(messages));
        quiet.push_back(serverRate(messages, false));
        logged.push_back(serverRate(messages, true));
    }
    std::printf("mousemove throughput, %d messages, median of %d runs\n", messages, repetitions);
    std::printf("  raw loopback line reader : %10.0f msg/s\n", median(raw));
    std::printf("  server, debug log off    : %10.0f msg/s  (%.2f of raw)\n", median(quiet),
                median(quiet) / median(raw));
    std::printf("  server, debug log on     : %10.0f msg/s  (%.2f of raw)\n", median(logged),
                median(logged) / median(raw));

    const Latency paced = latency(1200, std::chrono::nanoseconds(1000000000 / 240));
    std::printf("latency write -> injection, debug log off\n");
    std::printf("  240 msg/s (1200 messages): p50 %8.1f us  p99 %8.1f us\n", paced.p50, paced.p99);
    std::vector<double> p50s, p99s;
    for (int r = 0; r < repetitions; ++r) {
        const Latency saturated = latency(20000, std::chrono::nanoseconds(0));
        p50s.push_back(saturated.p50);
        p99s.push_back(saturated.p99);
    }
    std::printf(
        "  saturated (20000 messages, one write each, median of %d runs): p50 %8.1f us  p99 %8.1f us\n",
        repetitions, median(p50s), median(p99s));
    return 0;
}
