#include "web/HttpRequestParser.h"

#include <QList>
#include <QStringList>
#include <QUrl>

#include <algorithm>
#include <string_view>

namespace {

constexpr std::string_view HeadTerminator("\r\n\r\n");

} // namespace

QByteArray HttpRequest::headerValue(const QByteArray& name) const
{
    const QList<QByteArray> values = headerValues(name);
    return values.isEmpty() ? QByteArray() : values.first();
}

QList<QByteArray> HttpRequest::headerValues(const QByteArray& name) const
{
    QList<QByteArray> values;
    const QList<QByteArray> lines = head.split('\n');
    for (int i = 1; i < lines.size(); ++i) {
        const QByteArray& line = lines.at(i);
        const int colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        if (line.left(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0)
            values << line.mid(colon + 1).trimmed();
    }
    return values;
}

bool HttpRequest::isWebSocketUpgrade() const
{
    if (method != QLatin1String("GET") || path != QLatin1String("/ws"))
        return false;
    // "Upgrade" may list several protocols separated by commas.
    const QList<QByteArray> protocols = headerValue("Upgrade").split(',');
    return std::any_of(protocols.cbegin(), protocols.cend(), [](const QByteArray& protocol) {
        return protocol.trimmed().compare("websocket", Qt::CaseInsensitive) == 0;
    });
}

HttpRequestParser::Result HttpRequestParser::parse(const QByteArray& buffer, HttpRequest* request)
{
    // Only the first MaxHeadBytes (plus the terminator) are searched, so a hostile peer
    // cannot make each arrival rescan an ever longer buffer.
    const std::size_t window =
        std::min<std::size_t>(static_cast<std::size_t>(buffer.size()), MaxHeadBytes + HeadTerminator.size());
    const std::size_t end = std::string_view(buffer.constData(), window).find(HeadTerminator);
    if (end == std::string_view::npos)
        return window >= MaxHeadBytes + HeadTerminator.size() ? Result::TooLarge : Result::Incomplete;

    const int headSize = static_cast<int>(end);
    const int lineEnd = buffer.indexOf("\r\n");
    const QStringList parts = QString::fromUtf8(buffer.constData(), lineEnd).split(QLatin1Char(' '));
    if (parts.size() < 3)
        return Result::Malformed;

    request->method = parts.at(0);
    request->target = parts.at(1);
    request->version = parts.at(2);
    request->path = QUrl(request->target, QUrl::TolerantMode).path(QUrl::FullyDecoded);
    request->head = buffer.left(headSize);
    const int bodyStart = headSize + static_cast<int>(HeadTerminator.size());
    request->body = buffer.size() > bodyStart ? buffer.mid(bodyStart) : QByteArray();
    return Result::Complete;
}

bool isConfinedRequestPath(const QString& path)
{
    if (path.contains(QChar(0)))
        return false;
    int start = 0;
    for (int i = 0; i <= path.size(); ++i) {
        if (i == path.size() || path.at(i) == QLatin1Char('/') || path.at(i) == QLatin1Char('\\')) {
            if (QStringView(path).mid(start, i - start) == QLatin1String(".."))
                return false;
            start = i + 1;
        }
    }
    return true;
}
