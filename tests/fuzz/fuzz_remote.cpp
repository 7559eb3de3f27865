// Feeds arbitrary bytes through the command server's framing and dispatch, with the
// recording input backend on fake time, so no pause really waits, a shell that starts
// nothing, a media player that plays nothing and a fake volume and clipboard, and a phone connected that
// drops what it is sent, so that requests bound to their sender (upload tickets) get that far. The framer
// must cut the lines a plain split finds, and refuse only a longer one.

#include "platform/clipboard/ClipboardFake.h"
#include "platform/input/InputBackendFake.h"
#include "platform/media/MediaPlayerLinkFake.h"
#include "platform/media/SystemVolumeFake.h"
#include "platform/shell/ShellFake.h"
#include "remote/LineFramer.h"
#include "remote/PhoneFiles.h"
#include "remote/PhoneLink.h"
#include "remote/ProtocolGuard.h"
#include "remote/Server.h"

#include <QCoreApplication>
#include <QJsonObject>

#include <cstdint>
#include <cstdlib>

namespace {

class SilentPhone final : public PhoneLink
{
public:
    QHostAddress peerAddress() const override { return QHostAddress(QHostAddress::LocalHost); }
    quint16 peerPort() const override { return 1; }
    bool isOpen() const override { return true; }
    void sendMessage(const QByteArray&) override {}
    void closeAndRelease(int) override {}
};

// Takes files up to 1 MiB, with tickets that lead nowhere.
class FilesFake final : public PhoneFiles
{
public:
    qint64 maxBytes() const override { return 1024 * 1024; }
    QString refusalFor(qint64 size) const override
    {
        return size < 0 || size > maxBytes() ? QStringLiteral("tooLarge") : QString();
    }
    QByteArray issueTicket(const QHostAddress&) override { return QByteArrayLiteral("0123456789abcdef"); }
    QJsonObject offerTo(const QString&, const QHostAddress&) override { return QJsonObject(); }
};

} // namespace

static Server* g_server = nullptr;

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    static QCoreApplication app(*argc, *argv);
    auto backend = std::make_unique<InputBackendFake>();
    backend->setRecording(false); // a long run must not grow memory
    g_server = new Server(std::move(backend), nullptr);
    g_server->setShell(std::make_unique<ShellFake>());
    // A running player, so that the control requests reach it.
    auto players = std::make_unique<MediaPlayerLinkFake>();
    MediaPlayerStatus status;
    status.running = true;
    status.title = QStringLiteral("Track");
    players->setStatus(status);
    players->setRecording(false);
    g_server->setMediaPlayerLink(std::move(players));
    // An output and a clipboard the phone may read, so that every request reaches them.
    auto volume = std::make_unique<SystemVolumeFake>();
    volume->setState({true, true, 50, false});
    g_server->setSystemVolume(std::move(volume));
    g_server->setClipboard(std::make_unique<ClipboardFake>(), [] { return true; });
    static FilesFake files;
    g_server->setPhoneFiles(&files);
    if (g_server->start(0))
        g_server->acceptWebSocket(new SilentPhone);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // A small line limit, so that inputs of fuzzer size overflow too.
    const QByteArray input = QByteArray(reinterpret_cast<const char*>(data), int(size)).mid(1);
    const QList<QByteArray> lines = input.split('\n'); // the last one has no line feed yet
    LineFramer framer(128);
    const int chunk = size > 0 ? 1 + data[0] : 1; // the first byte: reads of 1 byte to twice the limit
    int taken = 0;
    for (int pos = 0; pos < input.size(); pos += chunk) {
        framer.append(input.mid(pos, chunk));
        QByteArray line;
        LineFramer::Result result;
        while ((result = framer.takeLine(&line)) == LineFramer::Result::Line) {
            if (taken + 1 >= lines.size() || line != lines[taken++] || line.size() > 128)
                std::abort();
            // As on the command port: an HTTP line never reaches the parser.
            if (!looksLikeHttp(line))
                g_server->handleMessage(line);
        }
        if (result == LineFramer::Result::Overflow) {
            if (lines[taken].size() <= 128)
                std::abort();
            return 0;
        }
    }
    if (taken != lines.size() - 1)
        std::abort();
    return 0;
}
