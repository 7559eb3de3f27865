// What sealing the browser channel costs the PC: per "mousemove" message, the seal and the
// open alone, and the whole receive path (WebSocket, link, command server, recording input
// backend) sealed against in clear, at the phone's 240 moves/s and flat out. Sealed and
// clear rounds alternate in one run; the phone is a QWebSocket in the same process, so the
// path's CPU time includes the phone's framing (and, sealed, its sealing).
//
//   bench_seal [rounds] [paced seconds] [flat-out messages]

#include "platform/input/InputBackendFake.h"
#include "remote/PhoneLink.h"
#include "remote/Server.h"
#include "web/HttpRequestParser.h"
#include "web/SealedChannel.h"
#include "web/SealedPhoneLink.h"
#include "web/WebSocketConnection.h"
#include "web/WebSocketFrames.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

// The page's side without sealing: text messages, as the channel was before.
class ClearLink final : public PhoneLink
{
public:
    explicit ClearLink(WebSocketConnection* socket)
        : m_socket(socket)
    {
        socket->setParent(this);
        connect(socket, &WebSocketConnection::textMessageReceived, this,
                [this](const QString& text) { emit messageReceived(text.toUtf8()); });
        connect(socket, &WebSocketConnection::disconnected, this, &PhoneLink::disconnected);
    }
    QHostAddress peerAddress() const override { return m_socket->peerAddress(); }
    quint16 peerPort() const override { return m_socket->peerPort(); }
    bool isOpen() const override { return m_socket->state() == QAbstractSocket::ConnectedState; }
    void sendMessage(const QByteArray& message) override
    {
        m_socket->sendTextMessage(QString::fromUtf8(message));
    }
    void closeAndRelease(int) override
    {
        m_socket->abort();
        deleteLater();
    }

private:
    WebSocketConnection* m_socket;
};

double cpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

QByteArray move(int i)
{
    return QByteArray(R"({"command":"mousemove","params":{"dx":)") + QByteArray::number(1 + i % 5) +
           R"(,"dy":)" + QByteArray::number(i % 5 - 2) + "}}";
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

SealedChannel::Key benchKey()
{
    SealedChannel::Key key{};
    key.fill(0x5a);
    return key;
}

// Nanoseconds per message for sealing alone (a reply) and opening alone (a command).
struct Alone
{
    double sealNs;
    double openNs;
};
Alone sealAndOpen(int messages)
{
    SealedChannel::Seal page(benchKey(), SealedChannel::Direction::ToPc);
    SealedChannel::Seal pc(benchKey(), SealedChannel::Direction::ToPage);
    std::vector<QByteArray> frames;
    frames.reserve(std::size_t(messages));
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < messages; ++i)
        frames.push_back(page.seal(move(i)));
    const double sealNs = double(timer.nsecsElapsed()) / messages;
    timer.restart();
    for (const QByteArray& frame : frames) {
        if (!pc.open(frame))
            std::abort();
    }
    return {sealNs, double(timer.nsecsElapsed()) / messages};
}

// CPU microseconds per message through the real path; `interval` 0 sends flat out.
double pathCpuUs(bool sealed, int messages, int intervalMs)
{
    auto fake = std::make_unique<InputBackendFake>();
    InputBackendFake* records = fake.get();
    records->setRecording(false);
    // Each move is one batch; the last one ends the round.
    QEventLoop loop;
    records->setSendHook([&](const QVector<InputRecord>&) {
        if (records->batchCount() >= messages)
            loop.quit();
    });
    Server server(std::move(fake), nullptr);
    server.start(0);
    // The PC's side of the socket as the program has it: our own handshake answer, then frames.
    QTcpServer listener;
    listener.listen(QHostAddress::LocalHost);
    QObject::connect(&listener, &QTcpServer::newConnection, [&] {
        QTcpSocket* socket = listener.nextPendingConnection();
        socket->setParent(nullptr);
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [&server, socket, sealed] {
            HttpRequest request;
            if (HttpRequestParser::parse(socket->peek(HttpRequestParser::MaxHeadBytes), &request) !=
                HttpRequestParser::Result::Complete)
                return;
            socket->disconnect();
            socket->readAll(); // the peeked head, and request.body what came behind it
            const std::optional<QByteArray> answer = WebSocketFrames::handshakeAnswer(request);
            if (!answer)
                std::abort();
            socket->write(*answer);
            auto* connection = new WebSocketConnection(socket, 1 << 16, request.body);
            server.acceptWebSocket(sealed
                                       ? static_cast<PhoneLink*>(new SealedPhoneLink(connection, benchKey()))
                                       : new ClearLink(connection));
        });
    });
    QWebSocket phone;
    SealedChannel::Seal seal(benchKey(), SealedChannel::Direction::ToPc);
    QObject::connect(&phone, &QWebSocket::connected, &loop, &QEventLoop::quit);
    phone.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/ws").arg(listener.serverPort())));
    loop.exec();

    const auto send = [&](int i) {
        if (sealed)
            phone.sendBinaryMessage(seal.seal(move(i)));
        else
            phone.sendTextMessage(QString::fromLatin1(move(i)));
    };
    const double start = cpuSeconds();
    QTimer pace;
    int sent = 0;
    QObject::connect(&pace, &QTimer::timeout, [&] {
        for (int burst = intervalMs ? 1 : 200; burst > 0 && sent < messages; --burst)
            send(sent++);
        if (sent == messages)
            pace.stop();
    });
    pace.setTimerType(Qt::PreciseTimer);
    pace.start(intervalMs);
    loop.exec();
    return (cpuSeconds() - start) * 1e6 / messages;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
    const int pacedSeconds = argc > 2 ? std::atoi(argv[2]) : 5;
    const int flatOut = argc > 3 ? std::atoi(argv[3]) : 20000;

    std::vector<double> sealNs, openNs, pacedClear, pacedSealed, flatClear, flatSealed;
    for (int round = 0; round < rounds; ++round) {
        const Alone alone = sealAndOpen(100000);
        sealNs.push_back(alone.sealNs);
        openNs.push_back(alone.openNs);
        // At 240 moves/s the timer fires about every 4 ms (Qt's timers count whole ms).
        pacedClear.push_back(pathCpuUs(false, 240 * pacedSeconds, 4));
        pacedSealed.push_back(pathCpuUs(true, 240 * pacedSeconds, 4));
        flatClear.push_back(pathCpuUs(false, flatOut, 0));
        flatSealed.push_back(pathCpuUs(true, flatOut, 0));
    }
    std::printf("seal of one move, alone:                    %.2f us\n", median(sealNs) / 1000);
    std::printf("open of one move, alone:                    %.2f us\n", median(openNs) / 1000);
    std::printf("path CPU per move at 240/s, clear:          %.1f us\n", median(pacedClear));
    std::printf("path CPU per move at 240/s, sealed:         %.1f us (%.2f of clear)\n", median(pacedSealed),
                median(pacedSealed) / median(pacedClear));
    std::printf("path CPU per move flat out, clear:          %.2f us\n", median(flatClear));
    std::printf("path CPU per move flat out, sealed:         %.2f us (%.2f of clear)\n", median(flatSealed),
                median(flatSealed) / median(flatClear));
    return 0;
}
