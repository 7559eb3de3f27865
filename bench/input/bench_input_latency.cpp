// Latency from the phone's write to a desktop client receiving the pointer motion, at 240 moves
// per second, through the real command server and input backend: on a wlroots compositor
// (WAYLAND_DISPLAY), on GNOME Mutter through its own interface (VELMORA_BENCH_MUTTER_BUS and
// _DISPLAY) and through its portal (VELMORA_BENCH_GNOME_PORTAL=1), on KDE KWin through the RemoteDesktop
// portal (VELMORA_BENCH_KWIN_BUS and _DISPLAY), each received by the Wayland test client, and on an X server
// with XTest (DISPLAY, received by a fullscreen Qt window of this program), in the same run; ratios are to
// X11.
//
// With `paragraph`, instead: a paragraph of 600 distinct Chinese characters typed into the Wayland
// test client on each Wayland desktop, from the phone's write until the client holds all of it;
// GNOME and KDE paste it through their clipboard, since their keys type only the layout's.
//
//   bench_input_latency [moves per run] [runs]
//   bench_input_latency paragraph [runs]
//   bench_input_latency receive-x11          (the X11 receiver, started by the benchmark)
// BENCH_DESKTOP=TEXT measures only the desktops whose label (as printed) holds TEXT.
#include "platform/clipboard/ClipboardMutter.h"
#include "platform/clipboard/ClipboardWlroots.h"
#include "platform/input/InputBackendMutter.h"
#include "platform/input/InputBackendPortal.h"
#include "platform/input/InputBackendWlroots.h"
#include "platform/input/InputBackendX11.h"
#include "remote/Server.h"

#include <QApplication>
#include <QDBusConnection>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QMouseEvent>
#include <QProcess>
#include <QScreen>
#include <QSettings>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace {

constexpr int kMovesPerSecond = 240;
constexpr int kDistinctX = 500;
constexpr int kY = 200;

// The X11 receiver: one fullscreen window that prints the pointer's moves.
class Receiver final : public QWidget
{
public:
    Receiver() { setMouseTracking(true); }

protected:
    void mouseMoveEvent(QMouseEvent* event) override
    {
        std::printf("motion %d %d\n", event->globalPos().x(), event->globalPos().y());
        std::fflush(stdout);
    }
};

int receiveX11(int argc, char** argv)
{
    QApplication app(argc, argv);
    Receiver window;
    window.setGeometry(app.primaryScreen()->geometry());
    window.show();
    QTimer::singleShot(300, [] {
        std::printf("ready\n");
        std::fflush(stdout);
    });
    return app.exec();
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5))];
}

double median(std::vector<double> v)
{
    return percentile(std::move(v), 0.5);
}

struct Result
{
    int received = 0;
    double p50 = 0, p99 = 0;
};

QByteArray absoluteMove(int x, int y)
{
    return R"({"command":"mousemove","params":{"absolute":true,"dx":)" + QByteArray::number(x) +
           ",\"dy\":" + QByteArray::number(y) + "}}\n";
}

// One paced run: `moves` absolute moves to distinct x positions, each matched to the receiver's
// report of that position.
Result run(std::unique_ptr<InputBackend> backend, const QString& receiver, const QStringList& receiverArgs,
           const QProcessEnvironment& env, int moves)
{
    Result result;
    Server server(std::move(backend), nullptr);
    if (!server.start(0))
        return result;
    QTcpSocket phone;
    phone.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    phone.connectToHost(QHostAddress::LocalHost, server.serverPort());
    if (!phone.waitForConnected(5000))
        return result;

    QProcess client;
    client.setProcessEnvironment(env);
    client.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer clock;
    clock.start();
    std::vector<qint64> sentAt(size_t(moves), -1);
    std::vector<double> latencies;
    int next = 0;
    bool ready = false;
    int warmX = -1;
    QObject::connect(&client, &QProcess::readyReadStandardOutput, [&] {
        while (client.canReadLine()) {
            const QList<QByteArray> parts = client.readLine().trimmed().split(' ');
            const qint64 now = clock.nsecsElapsed();
            if (parts.value(0) == "ready")
                ready = true;
            if (parts.value(0) != "motion" || parts.size() < 3)
                continue;
            const int x = parts.at(1).toInt();
            if (x == 50)
                warmX = x;
            for (int i = next; i < moves && sentAt[size_t(i)] >= 0; ++i) {
                if (100 + i % kDistinctX == x && parts.at(2).toInt() == kY) {
                    latencies.push_back(double(now - sentAt[size_t(i)]) / 1000.0);
                    next = i + 1;
                    break;
                }
            }
        }
    });
    client.start(receiver, receiverArgs);
    const auto waitUntil = [](const std::function<bool()>& done, int ms) {
        QElapsedTimer t;
        t.start();
        while (!done() && t.elapsed() < ms)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        return done();
    };
    if (!waitUntil([&] { return ready; }, 10000)) {
        std::fprintf(stderr, "receiver did not start\n");
        return result;
    }
    // The pointer enters the client's surface before timing starts.
    for (int tries = 0; tries < 50 && warmX < 0; ++tries) {
        phone.write(absoluteMove(50, kY));
        phone.flush();
        waitUntil([&] { return warmX >= 0; }, 100);
    }

    const qint64 periodNs = 1000000000LL / kMovesPerSecond;
    const qint64 start = clock.nsecsElapsed();
    int sent = 0;
    while (sent < moves) {
        const qint64 due = start + sent * periodNs;
        if (clock.nsecsElapsed() >= due) {
            sentAt[size_t(sent)] = clock.nsecsElapsed();
            phone.write(absoluteMove(100 + sent % kDistinctX, kY));
            phone.flush();
            ++sent;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    waitUntil([&] { return next >= moves; }, 2000);
    client.kill();
    client.waitForFinished();
    result.received = int(latencies.size());
    result.p50 = percentile(latencies, 0.50);
    result.p99 = percentile(latencies, 0.99);
    return result;
}

// One desktop the run measures: how to open its backend and where its probe client runs.
struct Target
{
    const char* label;
    std::function<std::unique_ptr<InputBackend>()> open;
    QString receiver;
    QStringList receiverArgs;
    QProcessEnvironment env;
    // The clipboard Velmora pastes through there.
    std::function<std::unique_ptr<Clipboard>()> clipboard;
};

// How long a paragraph may take before its run counts as not exact.
constexpr int kParagraphWaitMs = 20000;

// What the client received instead of the paragraph, on stderr: the paste keys it saw and each
// text it got, as a part of the paragraph (its characters from, to) or as foreign text.
void describeMismatch(const QString& paragraph, const QByteArrayList& pieces)
{
    QStringList parts;
    for (const QByteArray& piece : pieces) {
        if (piece.startsWith("key ")) {
            parts << QStringLiteral("[Shift+Insert]");
            continue;
        }
        const QString text = QString::fromUtf8(piece);
        const int at = paragraph.indexOf(text);
        if (at >= 0)
            parts << QStringLiteral("paragraph %1..%2").arg(at).arg(at + text.size());
        else
            parts << QStringLiteral("foreign %1 characters \"%2\"").arg(text.size()).arg(text.left(20));
    }
    std::fprintf(stderr, "  not exact, received: %s\n",
                 qPrintable(parts.isEmpty() ? QStringLiteral("nothing") : parts.join(QLatin1String(", "))));
}

// Seconds from the write of a paragraph until the client typed all of it; negative when it did
// not arrive exactly within kParagraphWaitMs.
double typeParagraph(const Target& target)
{
    QString paragraph;
    for (int i = 0; i < 600; ++i)
        paragraph += QChar(0x4e00 + i * 13);
    Server server(target.open(), nullptr);
    if (target.clipboard)
        server.setClipboard(target.clipboard(), [] { return false; });
    QTcpSocket phone;
    if (!server.start(0))
        return -1;
    phone.connectToHost(QHostAddress::LocalHost, server.serverPort());
    QProcess client;
    client.setProcessEnvironment(target.env);
    client.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QByteArray typed;
    QByteArrayList pieces; // each key's or paste's text, and the paste keys, to tell what went wrong
    bool focused = false;
    QObject::connect(&client, &QProcess::readyReadStandardOutput, [&] {
        while (client.canReadLine()) {
            const QByteArray line = client.readLine().trimmed();
            focused = focused || line == "focus";
            if (line.startsWith("text ")) {
                typed += QByteArray::fromHex(line.mid(5));
                pieces << QByteArray::fromHex(line.mid(5));
            } else if (line.startsWith("key Insert 1")) {
                pieces << line;
            }
        }
    });
    client.start(target.receiver, target.receiverArgs);
    const QByteArray expected = paragraph.toUtf8();
    const auto waitUntil = [](const std::function<bool()>& done, int ms) {
        QElapsedTimer t;
        t.start();
        while (!done() && t.elapsed() < ms)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        return done();
    };
    double seconds = -1;
    if (phone.waitForConnected(5000) && waitUntil([&] { return focused; }, 10000)) {
        QElapsedTimer clock;
        clock.start();
        phone.write(
            QJsonDocument(QJsonObject{{"command", "keyinput"}, {"params", QJsonObject{{"text", paragraph}}}})
                .toJson(QJsonDocument::Compact) +
            '\n');
        phone.flush();
        if (waitUntil([&] { return typed.size() >= expected.size(); }, kParagraphWaitMs) && typed == expected)
            seconds = clock.nsecsElapsed() / 1e9;
        else
            describeMismatch(paragraph, pieces);
    }
    client.kill();
    client.waitForFinished();
    return seconds;
}

struct Figures
{
    std::vector<double> p50, p99;
    int lost = 0;
};

// A backend that talks D-Bus is measured once it is ready (Mutter's session started, the portal
// granted).
template <typename Backend> std::unique_ptr<InputBackend> whenReady(std::unique_ptr<Backend> backend)
{
    QElapsedTimer t;
    t.start();
    while (!backend->isReady() && t.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    if (!backend->isReady())
        std::fprintf(stderr, "backend not ready\n");
    return backend;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && qstrcmp(argv[1], "receive-x11") == 0)
        return receiveX11(argc, argv);
    QCoreApplication app(argc, argv);
    // Per-message debug lines would dominate what is measured.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    const bool paragraph = argc > 1 && qstrcmp(argv[1], "paragraph") == 0;
    if (paragraph) {
        --argc;
        ++argv;
    }
    const int moves = paragraph ? 0 : argc > 1 ? std::max(100, atoi(argv[1])) : 1200;
    const int runs = argc > (paragraph ? 1 : 2) ? std::max(1, atoi(argv[paragraph ? 1 : 2])) : 3;
    const QProcessEnvironment base = QProcessEnvironment::systemEnvironment();
    std::vector<Target> targets;
    const auto waylandEnv = [&base](const QString& display) {
        QProcessEnvironment env = base;
        env.insert(QStringLiteral("WAYLAND_DISPLAY"), display);
        return env;
    };
    if (base.contains(QStringLiteral("WAYLAND_DISPLAY")))
        targets.push_back({"wayland (sway, virtual pointer)",
                           [] { return InputBackendWlroots::open(); },
                           QStringLiteral(WAYLAND_PROBE),
                           {},
                           base,
                           [] {
                               return ClipboardWlroots::open();
                           }});
    // GNOME and KDE each on their own compositor and bus (bench/input/run.sh starts them).
    DesktopSurroundings screen = DesktopSurroundings::real();
    screen.screens = [] {
        return QVector<QRect>{QRect(0, 0, 1280, 720)};
    };
    const QString mutterBus = base.value(QStringLiteral("VELMORA_BENCH_MUTTER_BUS"));
    if (!mutterBus.isEmpty()) {
        targets.push_back({"gnome (mutter, direct)",
                           [mutterBus, screen] {
                               const QDBusConnection bus =
                                   QDBusConnection::connectToBus(mutterBus, "bench-mutter");
                               return whenReady(std::make_unique<InputBackendMutter>(bus, screen));
                           },
                           QStringLiteral(WAYLAND_PROBE),
                           {},
                           waylandEnv(base.value(QStringLiteral("VELMORA_BENCH_MUTTER_DISPLAY"))),
                           [mutterBus] {
                               return std::make_unique<ClipboardMutter>(
                                   QDBusConnection::connectToBus(mutterBus, "bench-mutter"));
                           }});
    }
    QTemporaryDir settingsDir;
    const auto portal = [&settingsDir](const QString& address, const DesktopSurroundings& desktop) {
        const QDBusConnection bus = QDBusConnection::connectToBus(address, "bench-" + desktop.desktop);
        return whenReady(std::make_unique<InputBackendPortal>(
            bus,
            std::make_unique<QSettings>(settingsDir.filePath(desktop.desktop + QStringLiteral(".ini")),
                                        QSettings::IniFormat),
            desktop));
    };
    if (!mutterBus.isEmpty() &&
        base.value(QStringLiteral("VELMORA_BENCH_GNOME_PORTAL")) == QLatin1String("1")) {
        DesktopSurroundings gnome = screen;
        gnome.desktop = QStringLiteral("GNOME");
        targets.push_back({"gnome (mutter, portal)",
                           [mutterBus, gnome, portal] { return portal(mutterBus, gnome); },
                           QStringLiteral(WAYLAND_PROBE),
                           {},
                           waylandEnv(base.value(QStringLiteral("VELMORA_BENCH_MUTTER_DISPLAY"))),
                           [mutterBus] {
                               return std::make_unique<ClipboardMutter>(
                                   QDBusConnection::connectToBus(mutterBus, "bench-GNOME"));
                           }});
    }
    const QString kwinBus = base.value(QStringLiteral("VELMORA_BENCH_KWIN_BUS"));
    if (!kwinBus.isEmpty()) {
        DesktopSurroundings kde = screen;
        kde.desktop = QStringLiteral("KDE");
        targets.push_back({"kde (kwin, portal)",
                           [kwinBus, kde, portal] { return portal(kwinBus, kde); },
                           QStringLiteral(WAYLAND_PROBE),
                           {},
                           waylandEnv(base.value(QStringLiteral("VELMORA_BENCH_KWIN_DISPLAY"))),
                           [&base] {
                               // Data control on KWin's own display.
                               const QByteArray own = qgetenv("WAYLAND_DISPLAY");
                               qputenv("WAYLAND_DISPLAY", base.value("VELMORA_BENCH_KWIN_DISPLAY").toUtf8());
                               std::unique_ptr<Clipboard> clipboard = ClipboardWlroots::open();
                               qputenv("WAYLAND_DISPLAY", own);
                               return clipboard;
                           }});
    }
    if (base.contains(QStringLiteral("DISPLAY"))) {
        QProcessEnvironment env = base;
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        targets.push_back({"x11 (Xvfb, XTest)",
                           [] { return InputBackendX11::open(); },
                           QCoreApplication::applicationFilePath(),
                           {QStringLiteral("receive-x11")},
                           env,
                           {}});
    }
    // BENCH_DESKTOP picks the desktops whose label holds it ("mutter, direct", "kwin").
    const QString only = base.value(QStringLiteral("BENCH_DESKTOP"));
    targets.erase(
        std::remove_if(targets.begin(), targets.end(),
                       [&only](const Target& t) { return !QString::fromLatin1(t.label).contains(only); }),
        targets.end());
    if (targets.empty()) {
        std::fprintf(stderr,
                     "needs WAYLAND_DISPLAY and/or DISPLAY (and a desktop that BENCH_DESKTOP names)\n");
        return 1;
    }
    if (paragraph) {
        std::printf("600 distinct Chinese characters, phone write to the client holding them all, %d runs "
                    "(median; - where they did not all arrive)\n",
                    runs);
        for (const Target& t : targets) {
            if (t.receiverArgs.contains(QStringLiteral("receive-x11")))
                continue; // X11 is bench_typing's, into a real terminal
            std::vector<double> seconds;
            int failed = 0;
            for (int r = 0; r < runs; ++r) {
                const double s = typeParagraph(t);
                if (s < 0)
                    ++failed;
                else
                    seconds.push_back(s);
            }
            std::printf("  %-32s %7.3f s  failed %d\n", t.label, seconds.empty() ? -1.0 : median(seconds),
                        failed);
        }
        return 0;
    }
    std::vector<Figures> figures(targets.size());
    for (int r = 0; r < runs; ++r) {
        for (size_t i = 0; i < targets.size(); ++i) {
            const Target& t = targets[i];
            const Result res = run(t.open(), t.receiver, t.receiverArgs, t.env, moves);
            figures[i].p50.push_back(res.p50);
            figures[i].p99.push_back(res.p99);
            figures[i].lost += moves - res.received;
        }
    }
    std::printf("pointer latency, phone write to client event, %d moves/s, %d moves x %d runs (medians)\n",
                kMovesPerSecond, moves, runs);
    const Figures& peer = figures.back();
    for (size_t i = 0; i < targets.size(); ++i) {
        const Figures& f = figures[i];
        std::printf("  %-32s p50 %7.1f us  p99 %7.1f us  unmatched %d", targets[i].label, median(f.p50),
                    median(f.p99), f.lost);
        if (&f != &peer && median(peer.p50) > 0 && median(peer.p99) > 0)
            std::printf("  (/ %s: p50 %.2f  p99 %.2f)", targets.back().label,
                        median(f.p50) / median(peer.p50), median(f.p99) / median(peer.p99));
        std::printf("\n");
    }
    return 0;
}
