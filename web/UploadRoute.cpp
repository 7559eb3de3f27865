#include "web/UploadRoute.h"

#include "web/FileTransfer.h"
#include "web/HttpAdmission.h"
#include "web/HttpRequestParser.h"
#include "web/HttpResponse.h"
#include "web/PartialFile.h"
#include "web/ReceivedFileName.h"

#include <QDebug>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

#include <memory>

namespace {

// A refusal before the body is read: the rest of the body is not wanted, so the connection ends.
QByteArray refusal(int statusCode, const QString& message)
{
    return HttpResponse::error(statusCode, message, "Connection: close\r\n");
}

class UploadSink final : public HttpBodySink
{
public:
    UploadSink(FileTransfer* transfer, std::unique_ptr<PartialFile> file, const QString& name, qint64 size)
        : m_transfer(transfer)
        , m_file(std::move(file))
        , m_name(name)
        , m_size(size)
    {
    }

    bool write(const char* data, qint64 size, QByteArray* failure) override
    {
        if (m_file->write(data, size))
            return true;
        qWarning().noquote() << "Receiving a file from the phone failed, nothing kept:"
                             << m_file->errorString();
        *failure = refusal(507, QStringLiteral("Insufficient Storage"));
        return false;
    }

    void finish(HttpExchange& exchange) override
    {
        const QString saved = m_file->commit(m_name);
        if (saved.isEmpty()) {
            qWarning().noquote() << "A file from the phone could not be stored, nothing kept:"
                                 << m_file->errorString();
            exchange.sendResponse(HttpResponse::error(507, QStringLiteral("Insufficient Storage")));
            return;
        }
        qInfo().noquote() << "File received from the phone:" << saved << m_size << "bytes";
        const QByteArray body = QJsonDocument(QJsonObject{{QStringLiteral("name"), saved},
                                                          {QStringLiteral("size"), double(m_size)}})
                                    .toJson(QJsonDocument::Compact);
        exchange.sendResponse(HttpResponse::head("HTTP/1.1 200 OK", "application/json", body.size()) + body);
        // The folder it was written in: the setting may have changed meanwhile.
        m_transfer->noteReceived(m_file->folder() + QLatin1Char('/') + saved, m_size);
    }

private:
    FileTransfer* m_transfer;
    std::unique_ptr<PartialFile> m_file;
    QString m_name;
    qint64 m_size;
};

// Content-Length as plain decimal digits; -1 when absent, repeated or anything else.
qint64 contentLength(const HttpRequest& request)
{
    const QList<QByteArray> values = request.headerValues("Content-Length");
    if (values.size() != 1 || values.first().isEmpty() || values.first().size() > 18)
        return -1;
    for (const char c : values.first())
        if (c < '0' || c > '9')
            return -1;
    return values.first().toLongLong();
}

} // namespace

UploadRoute::UploadRoute(FileTransfer* transfer)
    : m_transfer(transfer)
{
}

bool UploadRoute::matches(const HttpRequest& request) const
{
    return request.method == QLatin1String("POST") && request.path == QLatin1String("/upload");
}

void UploadRoute::handle(const HttpRequest& request, HttpExchange& exchange)
{
    const QString address = HttpAdmission::addressKey(exchange.peerAddress());
    if (!m_transfer->redeemTicket(request.headerValue("X-Velmora-Ticket"), exchange.peerAddress())) {
        qWarning().noquote() << "Upload refused, no valid ticket, from" << address;
        exchange.closeWith(refusal(403, QStringLiteral("Forbidden")));
        return;
    }
    if (!request.headerValue("Transfer-Encoding").isEmpty()) {
        exchange.closeWith(refusal(411, QStringLiteral("Length Required")));
        return;
    }
    const qint64 size = contentLength(request);
    if (size < 0) {
        exchange.closeWith(refusal(411, QStringLiteral("Length Required")));
        return;
    }
    const QString why = m_transfer->refusalFor(size);
    if (why == QLatin1String("tooLarge")) {
        exchange.closeWith(refusal(413, QStringLiteral("Payload Too Large")));
        return;
    }
    if (!why.isEmpty()) {
        qWarning().noquote() << "Upload refused, no room in" << m_transfer->folder();
        exchange.closeWith(refusal(507, QStringLiteral("Insufficient Storage")));
        return;
    }
    auto file = std::make_unique<PartialFile>(m_transfer->folder(), m_transfer->newFile());
    if (!file->open()) {
        qWarning().noquote() << "Upload refused, cannot write in" << m_transfer->folder();
        exchange.closeWith(refusal(507, QStringLiteral("Insufficient Storage")));
        return;
    }
    const QString name =
        ReceivedFileName::sanitized(QUrl::fromPercentEncoding(request.headerValue("X-Velmora-Name")));
    exchange.receiveBody(size, std::make_unique<UploadSink>(m_transfer, std::move(file), name, size));
}
