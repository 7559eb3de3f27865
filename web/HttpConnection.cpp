#include "web/HttpConnection.h"

#include "platform/files/FileSender.h"
#include "web/HttpRequestParser.h"
#include "web/HttpRoute.h"

#include <QFile>
#include <QSocketNotifier>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>

namespace {

// File bytes go out in steps, so that one fast reader cannot hold the event loop for long.
constexpr qint64 ChunkBytes = 64 * 1024;
constexpr qint64 SendStepBytes = 512 * 1024;
// A connection stops taking requests, and a stream stops reading its file, while this much
// is still queued for the peer.
constexpr qint64 WriteHighWater = 256 * 1024;
// A request body is read in pieces of at most this much, which bounds what one upload holds.
constexpr qint64 BodyReadBytes = 1024 * 1024;

} // namespace

HttpConnection::HttpConnection(QTcpSocket* socket_, const QString& address_)
    : socket(socket_)
    , deadline(new QTimer(socket_))
    , address(address_)
{
    deadline->setSingleShot(true);
}

HttpConnection::~HttpConnection()
{
    if (deadline)
        deadline->stop();
    delete writable;
}

void HttpConnection::startFile(std::unique_ptr<QFile> file_, qint64 offset_, qint64 length)
{
    file = std::move(file_);
    offset = offset_;
    remaining = length;
    if (offset_ > 0)
        file->seek(offset_);
}

const char* HttpConnection::streamStep()
{
    while (remaining > 0 && socket->bytesToWrite() < WriteHighWater) {
        const QByteArray chunk = file->read(std::min(ChunkBytes, remaining));
        if (chunk.isEmpty()) {
            // The file shrank or failed: the promised length cannot be kept, so the peer must
            // see the connection end rather than take the next response as file content.
            return "file ended before its announced length";
        }
        socket->write(chunk);
        remaining -= chunk.size();
    }
    if (remaining == 0)
        file.reset();
    return nullptr;
}

const char* HttpConnection::sendStep(FileSender& sender, int stallMs, const std::function<void()>& onWritable)
{
    // Bytes still in Qt's buffer (the head) go first; their bytesWritten brings us back.
    if (socket->bytesToWrite() > 0)
        return nullptr;
    const FileSender::Result result =
        sender.send(socket->socketDescriptor(), file->handle(), offset, std::min(SendStepBytes, remaining));
    offset += result.bytes;
    remaining -= result.bytes;
    if (result.status == FileSender::Status::Failed)
        return "sending the file failed";
    if (remaining == 0) {
        file.reset();
        return nullptr;
    }
    if (result.status == FileSender::Status::EndOfFile)
        return "file ended before its announced length";
    if (result.bytes > 0 && !handling)
        deadline->start(stallMs);
    // The next step waits for room in the socket: at once for a fast reader, whenever a slow
    // one reads. Either way the event loop serves everyone else in between.
    if (writable == nullptr) {
        writable = new QSocketNotifier(socket->socketDescriptor(), QSocketNotifier::Write, socket);
        QObject::connect(writable, &QSocketNotifier::activated, writable, onWritable);
    }
    writable->setEnabled(true);
    return nullptr;
}

QByteArray HttpConnection::startBody(std::unique_ptr<HttpBodySink> sink, qint64 length,
                                     const QByteArray& first)
{
    body = std::move(sink);
    bodyRemaining = length;
    // Bytes of a next request sent along with this one are not kept (as for any request).
    const qint64 now = std::min<qint64>(length, first.size());
    QByteArray failure;
    if (now > 0 && !body->write(first.constData(), now, &failure)) {
        body.reset();
        return failure;
    }
    bodyRemaining -= now;
    socket->setReadBufferSize(BodyReadBytes);
    return QByteArray();
}

QByteArray HttpConnection::readBody(int stallMs)
{
    // One buffer's worth at a time: the event loop serves the others in between, and the
    // socket is not read while the sink writes, so the peer waits for the disk.
    while (bodyRemaining > 0 && socket->bytesAvailable() > 0) {
        const QByteArray bytes = socket->read(std::min(bodyRemaining, BodyReadBytes));
        QByteArray failure;
        if (!body->write(bytes.constData(), bytes.size(), &failure)) {
            body.reset();
            return failure;
        }
        bodyRemaining -= bytes.size();
        deadline->start(stallMs);
    }
    if (bodyRemaining == 0)
        socket->setReadBufferSize(HttpRequestParser::MaxHeadBytes);
    return QByteArray();
}

bool HttpConnection::isBusy() const
{
    return file != nullptr || socket->bytesToWrite() > WriteHighWater;
}
