#include "web/HttpResponse.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QMimeDatabase>

namespace HttpResponse {

QByteArray head(const QByteArray& statusLine, const QByteArray& contentType, qint64 contentLength,
                const QByteArray& extraHeaders)
{
    QByteArray head;
    head.reserve(160);
    head += statusLine;
    head += "\r\nContent-Type: ";
    head += contentType;
    head += "\r\nContent-Length: ";
    head += QByteArray::number(contentLength);
    head += "\r\n"; // no CORS header: no other site's page may read what is served here
    head += extraHeaders;
    head += "\r\n";
    return head;
}

QByteArray error(int statusCode, const QString& message, const QByteArray& extraHeaders)
{
    QJsonObject object;
    object.insert(QStringLiteral("error"), true);
    object.insert(QStringLiteral("message"), message);
    const QByteArray body = QJsonDocument(object).toJson();
    const QByteArray statusLine = "HTTP/1.1 " + QByteArray::number(statusCode) + ' ' + message.toUtf8();
    return head(statusLine, "application/json", body.size(), extraHeaders) + body;
}

// The answer is kept with the file's cached response, which goes with any change of the file.
QByteArray mimeTypeName(const QString& fileName, const QByteArray& content)
{
    static const QMimeDatabase database;
    return database.mimeTypeForFileNameAndData(fileName, content).name().toUtf8();
}

QByteArray mimeTypeName(const QString& fileName, QIODevice* file)
{
    static const QMimeDatabase database;
    return database.mimeTypeForFileNameAndData(fileName, file).name().toUtf8();
}

} // namespace HttpResponse
