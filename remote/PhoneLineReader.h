#pragma once

#include "remote/LineFramer.h"

#include <QByteArray>
#include <QQueue>

class QTcpSocket;

// The complete lines of a TCP phone, read from its socket only as they are needed, so that the
// bytes held unhandled stay bounded. A line of an HTTP request means the peer is a browser sent
// here by a web page, not a phone.
class PhoneLineReader
{
public:
    enum class Result
    {
        Line,     // a line was taken
        NoLine,   // none complete yet
        Http,     // the line taken is part of an HTTP request
        Overflow, // the current line is longer than LineFramer::MaxLineBytes
    };

    // Readies the socket of a phone just taken: no send coalescing, keep-alive, and a bounded
    // read buffer.
    static void prepare(QTcpSocket* socket);
    // Ends the connection at once and releases the socket (later).
    static void close(QTcpSocket* socket);
    // Takes the next line of `socket`, reading more as needed.
    Result take(QTcpSocket* socket, QByteArray* line);
    bool hasPending(const QTcpSocket* socket) const;
    // Everything `socket` sent that is not handled yet, read now (its connection is about to
    // go) and cut into complete lines, up to about `maxBytes`; none when it spoke HTTP. Returns
    // the bytes left out: a trailing partial line, or all of them for HTTP.
    qint64 drain(QTcpSocket* socket, qint64 maxBytes, QQueue<QByteArray>* lines);
    // Forgets the bytes held (the connection ended).
    void clear() { m_framer.clear(); }

private:
    LineFramer m_framer;
};
