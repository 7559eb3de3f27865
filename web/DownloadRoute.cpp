#include "web/DownloadRoute.h"

#include "web/FileTransfer.h"
#include "web/HttpRequestParser.h"
#include "web/HttpResponse.h"

#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QUrl>

namespace {

const QLatin1String Prefix("/download/");

bool isDigits(const QByteArray& text)
{
    if (text.isEmpty() || text.size() > 18)
        return false;
    for (const char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

// "attachment", with the name as plain ASCII for old browsers and in full as UTF-8.
QByteArray disposition(const QString& name)
{
    QByteArray ascii;
    for (const QChar c : name)
        ascii +=
            (c.unicode() >= 0x20 && c.unicode() < 0x7f && c != QLatin1Char('"') && c != QLatin1Char('\\'))
                ? char(c.unicode())
                : '_';
    return "Content-Disposition: attachment; filename=\"" + ascii + "\"; filename*=UTF-8''" +
           QUrl::toPercentEncoding(name) + "\r\n";
}

} // namespace

DownloadRoute::DownloadRoute(FileTransfer* transfer)
    : m_transfer(transfer)
{
}

bool DownloadRoute::matches(const HttpRequest& request) const
{
    return request.method == QLatin1String("GET") && request.path.startsWith(Prefix);
}

bool DownloadRoute::parseRange(const QByteArray& value, qint64 size, qint64* first, qint64* last)
{
    *first = 0;
    *last = size - 1;
    const QByteArray header = value.trimmed();
    if (!header.startsWith("bytes=") || header.contains(','))
        return true; // not a form we serve in part: the whole file
    const QByteArray range = header.mid(6).trimmed();
    const int dash = range.indexOf('-');
    if (dash < 0)
        return true;
    const QByteArray from = range.left(dash).trimmed(), to = range.mid(dash + 1).trimmed();
    if (from.isEmpty()) { // the last N bytes
        if (!isDigits(to) || to.toLongLong() == 0)
            return false;
        *first = std::max<qint64>(0, size - to.toLongLong());
        return size > 0;
    }
    if (!isDigits(from) || (!to.isEmpty() && !isDigits(to)))
        return true;
    // A range that ends before it starts is invalid, and an invalid header is ignored.
    if (!to.isEmpty() && to.toLongLong() < from.toLongLong())
        return true;
    *first = from.toLongLong();
    if (!to.isEmpty())
        *last = std::min(*last, to.toLongLong());
    return *first < size;
}

void DownloadRoute::handle(const HttpRequest& request, HttpExchange& exchange)
{
    const QByteArray token = request.path.mid(Prefix.size()).toLatin1();
    const QString path = m_transfer->offeredFile(token, exchange.peerAddress());
    auto file = std::make_unique<QFile>(path);
    if (path.isEmpty() || !file->open(QIODevice::ReadOnly)) {
        exchange.sendError(404, QStringLiteral("Not Found"));
        return;
    }
    const qint64 size = file->size();
    const QByteArray type = HttpResponse::mimeTypeName(path, file.get());
    const QByteArray headers = disposition(QFileInfo(path).fileName()) + "Accept-Ranges: bytes\r\n";
    const QByteArray range = request.headerValue("Range");
    qint64 first = 0, last = size - 1;
    if (!parseRange(range, size, &first, &last)) {
        exchange.sendResponse(
            HttpResponse::error(416, QStringLiteral("Range Not Satisfiable"),
                                "Content-Range: bytes */" + QByteArray::number(size) + "\r\n"));
        return;
    }
    const bool partial = !range.isEmpty() && (first > 0 || last < size - 1);
    const QByteArray head =
        partial ? HttpResponse::head("HTTP/1.1 206 Partial Content", type, last - first + 1,
                                     headers + "Content-Range: bytes " + QByteArray::number(first) + '-' +
                                         QByteArray::number(last) + '/' + QByteArray::number(size) + "\r\n")
                : HttpResponse::head("HTTP/1.1 200 OK", type, size, headers);
    exchange.sendFile(head, std::move(file), first, last - first + 1);
}
