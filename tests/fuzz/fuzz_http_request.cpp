// Feeds arbitrary bytes to the HTTP request parser, whole and as a growing buffer the way a
// connection fills it, and checks that what it reports is consistent; the Host and Origin
// values go through the host check as the server and the WebSocket channel use it. The upload
// route's name header goes through the received-file name rules, which must always give one
// plain, visible file name within the length limit.

#include "web/HostCheck.h"
#include "web/HttpRequestParser.h"
#include "web/ReceivedFileName.h"

#include <QUrl>

#include <QHostAddress>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), static_cast<int>(size));
    HttpRequest request;
    const HttpRequestParser::Result whole = HttpRequestParser::parse(input, &request);
    if (whole == HttpRequestParser::Result::Complete) {
        if (request.head.size() > HttpRequestParser::MaxHeadBytes)
            std::abort();
        isConfinedRequestPath(request.path);
        request.isWebSocketUpgrade();
        static HostCheck hosts(
            [] {
                return QStringList{"localhost", "192.168.1.20", "fe80::1%eth0", "velmora-pc"};
            },
            [] { return qint64(0); });
        for (const QByteArray& host : request.headerValues("Host")) {
            QString name;
            int port = -2;
            if (HostCheck::splitHost(host, &name, &port) && (name.isEmpty() || port < -1 || port > 65535))
                std::abort();
            hosts.isOwnHost(host, QHostAddress(QStringLiteral("127.0.0.1")));
        }
        const QString safe =
            ReceivedFileName::sanitized(QUrl::fromPercentEncoding(request.headerValue("X-Velmora-Name")));
        if (safe.isEmpty() || safe.toUtf8().size() > ReceivedFileName::MaxBytes ||
            safe.contains(QLatin1Char('/')) || safe.startsWith(QLatin1Char('.')) || safe.contains(QChar(0)))
            std::abort();
        QString name;
        int port = -2;
        if (HostCheck::splitOrigin(request.headerValue("Origin"), &name, &port) &&
            (name.isEmpty() || port < -1 || port > 65535))
            std::abort();
    }

    // Arriving in two segments: the first never completes a request the whole would not.
    const int cut = size > 0 ? data[0] % (input.size() + 1) : 0;
    HttpRequest partial;
    const HttpRequestParser::Result first = HttpRequestParser::parse(input.left(cut), &partial);
    if (first != HttpRequestParser::Result::Incomplete && first != whole)
        std::abort();
    return 0;
}
