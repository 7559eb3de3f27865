#pragma once

#include <QByteArray>
#include <QQueue>

// The complete messages of phones that have gone (closed, reset or displaced), kept to run in
// order ahead of the current phone's, and the points after which a departed phone has nothing
// left to run, so that the buttons it holds are released only then.
class DepartedInput
{
public:
    // One phone leaves at most a line's limit plus the socket's read buffer behind; this holds a
    // few of them, so phones reconnecting while a long text is typed cannot grow our memory.
    static constexpr qint64 MaxBytes = 4 * 1024 * 1024;

    // Queues `messages` behind those kept already. Past the bound the rest goes too (running
    // later messages without it would break the order); returns the bytes dropped.
    qint64 keep(QQueue<QByteArray> messages);
    bool isEmpty() const { return m_messages.isEmpty(); }
    qint64 bytes() const { return m_bytes; }
    // The next message; only when not empty.
    QByteArray take();
    // A phone has gone: it is done once every message queued so far has run.
    void phoneLeft() { m_releaseAfter.enqueue(m_queued); }
    // Whether some departed phone got done since the last call.
    bool phoneDone();
    // Forgets every message and every phone waiting to be done (the service stopped).
    void clear();

private:
    QQueue<QByteArray> m_messages;
    qint64 m_bytes = 0;
    // Messages queued and run so far, and the counts of queued ones after which a departed
    // phone is done.
    qint64 m_queued = 0;
    qint64 m_run = 0;
    QQueue<qint64> m_releaseAfter;
};
