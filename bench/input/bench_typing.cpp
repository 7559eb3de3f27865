// Typing speed on X11: a "keyinput" sent over the command server's TCP port is typed into a
// real xterm, and the time runs until the last byte has come out of the terminal's shell.
// `xdotool type --delay 0` into the same terminal is the peer, measured in the same runs.
// Characters off the layout are pasted through Qt's clipboard where a run has more distinct ones
// than X has idle spare keys, as in the program.
//   bench_typing [characters per text] [runs]

#include "platform/clipboard/ClipboardQt.h"
#include "platform/input/InputBackendX11.h"
#include "remote/Server.h"
#include "tests/support/TerminalSink.h"

#include <QGuiApplication>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>

#include <algorithm>
#include <cstdio>
#include <map>
#include <vector>

namespace {

struct Kind
{
    const char* name;
    QString text;
};

QString asciiText(int length)
{
    // Every printable character, shifted or not, and a Return now and then.
    QString text;
    for (int i = 0; text.size() < length; ++i)
        text += i % 79 == 78 ? QChar('\n') : QChar(0x21 + (i * 7) % 94);
    return text;
}

QString cycleText(int length, char32_t first, int distinct)
{
    QString text;
    for (int i = 0; text.size() < length; ++i)
        text += QChar(char16_t(first + char32_t(i % distinct)));
    return text;
}

QByteArray keyinput(const QString& text)
{
    const QJsonObject command{{QStringLiteral("command"), QStringLiteral("keyinput")},
                              {QStringLiteral("params"), QJsonObject{{QStringLiteral("text"), text}}}};
    return QJsonDocument(command).toJson(QJsonDocument::Compact) + "\n";
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "xcb"); // the clipboard is X's
    QGuiApplication app(argc, argv);
    const int length = argc > 1 ? std::max(atoi(argv[1]), 100) : 20000;
    const int runs = argc > 2 ? std::max(atoi(argv[2]), 1) : 5;
    if (qEnvironmentVariableIsEmpty("DISPLAY") || !TerminalSink::available()) {
        std::fprintf(stderr, "needs an X display and xterm\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("BENCH_LOG"))
        qputenv("QT_LOGGING_RULES", "*.debug=false"); // the server's debug log is not measured

    Server server(InputBackendX11::open(), nullptr);
    server.setClipboard(std::make_unique<ClipboardQt>(), [] { return false; });
    TerminalSink terminal;
    QTcpSocket phone;
    if (!server.start(0) || !terminal.start())
        return 1;
    phone.connectToHost(QHostAddress::LocalHost, server.serverPort());
    if (!phone.waitForConnected(5000))
        return 1;
    const auto send = [&phone](const QByteArray& line) {
        phone.write(line);
        phone.flush();
    };
    const QPoint at = terminal.center();
    send("{\"command\":\"mousemove\",\"params\":{\"absolute\":true,\"dx\":" + QByteArray::number(at.x()) +
         ",\"dy\":" + QByteArray::number(at.y()) + "}}\n");
    // The terminal takes keys once it is mapped under the pointer.
    bool ready = false;
    for (int attempt = 0; attempt < 40 && !ready; ++attempt) {
        send(keyinput(QStringLiteral(".")));
        ready = TerminalSink::spinUntil([&] { return terminal.size() > 0; }, 250);
    }
    if (!ready) {
        std::fprintf(stderr, "the terminal takes no keys\n");
        return 1;
    }

    const std::vector<Kind> kinds = {
        {"ASCII (on the layout)", asciiText(length)},
        {"12 Latin-1 letters off the layout (spare keys, no reuse)", cycleText(length, 0xE0, 12)},
        {"distinct CJK characters (pasted)", cycleText(std::min(length, 2000), 0x4E00, 2000)},
    };
    std::map<std::pair<int, int>, std::vector<double>> rates; // (kind, tool) -> chars/s
    std::map<std::pair<int, int>, int> inexact;
    // One kind after the other: a terminal that could not keep up with reused spare keys is
    // still busy long after, so that kind comes last. Within a kind the tools alternate.
    for (int k = 0; k < int(kinds.size()); ++k) {
        if (!qEnvironmentVariableIsEmpty("BENCH_ONLY") && qEnvironmentVariableIntValue("BENCH_ONLY") != k)
            continue;
        for (int run = 0; run < runs; ++run) {
            // xdotool types characters off the layout neither exactly nor in time, and the
            // terminal stays busy with them long after: it is the peer for ASCII only.
            for (int tool = 0; tool < (k == 0 ? 2 : 1); ++tool) {
                const QString& text = kinds[size_t(k)].text;
                const QByteArray expected = TerminalSink::expectedBytes(text);
                // Spare keys go back after a second of idleness: each run starts from the layout.
                TerminalSink::spinUntil([] { return false; }, 1200);
                terminal.clear();
                QProcess xdotool;
                QElapsedTimer timer;
                timer.start();
                if (tool == 0) {
                    send(keyinput(text));
                } else {
                    xdotool.start(
                        QStringLiteral("xdotool"),
                        {QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("0"), text});
                }
                const bool complete =
                    TerminalSink::spinUntil([&] { return terminal.size() >= expected.size(); }, 20000);
                const double seconds = timer.nsecsElapsed() / 1e9;
                if (tool == 1)
                    xdotool.waitForFinished(20000);
                // The terminal settles (anything late or extra) before the next text.
                for (qint64 before = -1; before != terminal.size();) {
                    before = terminal.size();
                    TerminalSink::spinUntil([] { return false; }, 1000);
                }
                QByteArray got = terminal.contents();
                if (tool == 1)
                    got.replace('\n', '\r'); // xdotool types a line feed as Linefeed, not Return
                if (!complete || got != expected) {
                    ++inexact[{k, tool}];
                    int same = 0;
                    while (same < got.size() && same < expected.size() && got[same] == expected[same])
                        ++same;
                    std::printf("  %lld of %lld bytes, the first %d as expected\n", qint64(got.size()),
                                qint64(expected.size()), same);
                }
                rates[{k, tool}].push_back(complete ? text.size() / seconds : 0);
                std::printf("run %d, %s, %s: %.0f chars/s%s\n", run + 1, kinds[size_t(k)].name,
                            tool == 0 ? "velmora" : "xdotool", complete ? text.size() / seconds : 0.0,
                            complete && got == expected ? "" : " (NOT EXACT)");
                std::fflush(stdout);
            }
        }
    }
    std::printf("\n%d characters per text, medians of %d runs\n", length, runs);
    std::printf("| text | velmora chars/s | xdotool chars/s | ratio | inexact runs (velmora / xdotool) |\n");
    std::printf("|---|---:|---:|---:|---|\n");
    for (int k = 0; k < int(kinds.size()); ++k) {
        const double ours = median(rates[{k, 0}]);
        const double peer = median(rates[{k, 1}]);
        std::printf("| %s (%d) | %.0f | %.0f | %.2f | %d / %d |\n", kinds[size_t(k)].name,
                    int(kinds[size_t(k)].text.size()), ours, peer, peer > 0 ? ours / peer : 0.0,
                    inexact[{k, 0}], inexact[{k, 1}]);
    }
    return 0;
}
