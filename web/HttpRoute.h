#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

struct HttpRequest;
class QFile;
class QHostAddress;
class QTcpSocket;

class HttpExchange;

// Takes a request's body as it arrives, in bounded pieces. Dropped without `finish` when the
// connection ends first (cut, cancelled, timed out, the server stopping).
class HttpBodySink
{
public:
    virtual ~HttpBodySink() = default;
    // The next bytes; false when they cannot be kept, with the last answer in `failure`.
    virtual bool write(const char* data, qint64 size, QByteArray* failure) = 0;
    // Every byte arrived: answer.
    virtual void finish(HttpExchange& exchange) = 0;
};

// What a route may do with the connection its request came in on. Valid only during the call
// it is handed to.
class HttpExchange
{
public:
    virtual ~HttpExchange() = default;

    virtual QHostAddress peerAddress() const = 0;
    virtual QHostAddress localAddress() const = 0;
    // A whole answer; the connection stays open for the next request.
    virtual void sendResponse(const QByteArray& response) = 0;
    virtual void sendError(int statusCode, const QString& message) = 0;
    // `head`, then `length` bytes of the open file from `offset`, in bounded steps.
    virtual void sendFile(const QByteArray& head, std::unique_ptr<QFile> file, qint64 offset,
                          qint64 length) = 0;
    // Reads the request's body of `length` bytes into `sink`, which then answers. Only the
    // socket's bounded buffer is held in memory: while the sink writes, nothing more is read
    // and TCP holds the peer back.
    virtual void receiveBody(qint64 length, std::unique_ptr<HttpBodySink> sink) = 0;
    // The last answer: the connection closes once it is out.
    virtual void closeWith(const QByteArray& response) = 0;
    // Hands the connection over: the socket has no parent and the caller owns it. `raw` gets
    // every byte read from it so far.
    virtual QTcpSocket* takeSocket(QByteArray* raw) = 0;
};

// One kind of request the HTTP server answers; the server asks its routes in order and the
// first that matches handles the request.
class HttpRoute
{
public:
    virtual ~HttpRoute() = default;
    virtual bool matches(const HttpRequest& request) const = 0;
    virtual void handle(const HttpRequest& request, HttpExchange& exchange) = 0;
};
