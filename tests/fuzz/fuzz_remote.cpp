// Feeds arbitrary bytes through the command server's framing and dispatch, with the
// recording input backend on fake time, so no pause really waits.

#include "platform/InputBackendFake.h"
#include "remote/JsonKeyCheck.h"
#include "remote/LineFramer.h"
#include "remote/Server.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

#include <cstddef>
#include <cstdint>

namespace {

Server* g_server = nullptr;

// Commands that start programs are kept away from random input.
bool launchesProgram(const QByteArray& line)
{
    if (hasDuplicateJsonKeys(line))
        return false;
    const QJsonDocument document = QJsonDocument::fromJson(line);
    const QString command = document.object().value(QLatin1String("command")).toString();
    return command == QLatin1String("appopen") || command == QLatin1String("mediaopen");
}

void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    qInstallMessageHandler(quiet);
    static QCoreApplication app(*argc, *argv);
    auto backend = std::make_unique<InputBackendFake>();
    backend->setRecording(false); // a long run must not grow memory
    g_server = new Server(std::move(backend), nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // A small line limit so that inputs of fuzzer size reach the overflow path too. The
    // first byte chooses how the stream is cut into reads.
    LineFramer framer(512);
    const std::size_t chunk = size > 0 ? (data[0] % 64) + 1 : 1;
    for (std::size_t pos = size > 0 ? 1 : 0; pos < size; pos += chunk) {
        const std::size_t n = std::min(chunk, size - pos);
        framer.append(QByteArray(reinterpret_cast<const char*>(data + pos), int(n)));
        QByteArray line;
        LineFramer::Result result;
        while ((result = framer.takeLine(&line)) == LineFramer::Result::Line)
            if (!launchesProgram(line))
                g_server->handleMessage(line);
        if (result == LineFramer::Result::Overflow)
            framer.clear();
    }
    return 0;
}
