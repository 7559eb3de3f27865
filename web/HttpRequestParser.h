#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// One request as the server sees it: the request line, the decoded path and whatever body
// had arrived with the header. Header lines are kept raw; only the upgrade hand-off reads them.
struct HttpRequest
{
    QString method;
    QString target;
    QString version; // as written, e.g. "HTTP/1.1"
    QString path;    // the target's path, percent escapes undone; the query plays no part
    QByteArray head; // request line and header lines, without the blank line
    QByteArray body; // the bytes after the blank line present in the buffer

    // The value of the first header line named `name` (case-insensitive), trimmed; empty when absent.
    QByteArray headerValue(const QByteArray& name) const;
    // The values of every header line named `name`, trimmed, in order.
    QList<QByteArray> headerValues(const QByteArray& name) const;
    // A GET of "/ws" asking to switch to the WebSocket protocol.
    bool isWebSocketUpgrade() const;
};

// Cuts one request out of a connection's buffer without touching any socket, so the server,
// the tests and the fuzzer share it.
class HttpRequestParser final
{
public:
    enum class Result
    {
        Incomplete, // no blank line yet: wait for more bytes
        Complete,   // `request` is filled
        Malformed,  // the request line has fewer than three space-separated parts
        TooLarge,   // the head passes MaxHeadBytes without ending
    };

    // A head (request line and headers) longer than this ends the connection.
    static constexpr int MaxHeadBytes = 64 * 1024;

    static Result parse(const QByteArray& buffer, HttpRequest* request);
};

// Whether a decoded request path may name a file: no NUL and no ".." segment, with either
// slash counting as a separator so that a backslash cannot climb out either.
bool isConfinedRequestPath(const QString& path);
