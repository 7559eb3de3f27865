#pragma once

#include <QString>

#include <functional>
#include <memory>

class FileSender;
class HttpBodySink;
class QFile;
class QSocketNotifier;
class QTcpSocket;
class QTimer;

// One open HTTP connection as the server keeps it: its deadline, and the file answer going out.
// The server decides what happens when; the steps here never flush, so no signal of the socket
// comes back while they run.
struct HttpConnection
{
    // Parented to the socket, so it goes with it.
    HttpConnection(QTcpSocket* socket, const QString& address);
    // Before the socket closes its descriptor, which the notifier would otherwise keep polling.
    ~HttpConnection();

    void startFile(std::unique_ptr<QFile> file, qint64 offset, qint64 length);
    // Queues file bytes through memory while the socket's buffer is below its mark. Null when
    // fine, else why the connection must end.
    const char* streamStep();
    // Sends the next step inside the kernel; `writable` is called when the socket has room for
    // more. Null when fine, else why the connection must end.
    // Progress restarts the deadline with `stallMs` unless a request is being handled.
    const char* sendStep(FileSender& sender, int stallMs, const std::function<void()>& writable);
    // Starts taking a request body of `length` bytes into `sink`, beginning with the bytes of
    // `first` that belong to it. Empty when fine, else the last answer (the sink is gone).
    QByteArray startBody(std::unique_ptr<HttpBodySink> sink, qint64 length, const QByteArray& first);
    // Feeds the sink what the socket holds, restarting the deadline with `stallMs` on progress.
    // Empty when fine, else the last answer (the sink is gone). Done when bodyRemaining is 0.
    QByteArray readBody(int stallMs);
    // Whether no further request may be read yet: an answer is still going out.
    bool isBusy() const;

    QTcpSocket* const socket;
    QTimer* deadline;                   // null once the socket is handed over
    std::unique_ptr<QFile> file;        // the file being sent, if any
    qint64 offset = 0;                  // where its next bytes start
    qint64 remaining = 0;               // its bytes still to queue
    std::unique_ptr<HttpBodySink> body; // takes the request body still arriving, if any
    qint64 bodyRemaining = 0;
    // Enabled while a sent file waits for room in the socket.
    QSocketNotifier* writable = nullptr;
    bool handling = false; // inside a request's handling, where a flush may call back
    bool closing = false;  // the last answer is going out; nothing more is read
    const QString address; // the peer's host, as counted against its share
    quint64 arrival = 0;   // order among the server's connections
};
