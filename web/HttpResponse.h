#pragma once

#include <QByteArray>
#include <QString>

class QIODevice;

// The pieces every answer of the HTTP server is built from.
namespace HttpResponse {

// The status line and the usual headers up to the blank line included, plus `extraHeaders`
// (each ending in CRLF).
QByteArray head(const QByteArray& statusLine, const QByteArray& contentType, qint64 contentLength,
                const QByteArray& extraHeaders = QByteArray());
// A whole error answer with the indented JSON body {"error": true, "message": message}.
QByteArray error(int statusCode, const QString& message, const QByteArray& extraHeaders = QByteArray());
// The MIME database's answer for a regular file, by its name and, where the name does not
// decide, by its content: the bytes already read, or the open file (which keeps its position).
QByteArray mimeTypeName(const QString& fileName, const QByteArray& content);
QByteArray mimeTypeName(const QString& fileName, QIODevice* file);

} // namespace HttpResponse
