#pragma once

#include <QtGlobal>

#include <functional>

class QObject;

// The program's log, written in batches: each line is formatted as Qt's default handler would
// (QT_MESSAGE_PATTERN included) when it is logged, kept in order in a bounded buffer, and the
// buffer goes out in one write when the event loop is about to wait, when its oldest line has
// waited a few milliseconds, or when it is full. A fatal message, the program's end and a
// line from another thread write at once, after what was kept. One write per pass instead of
// one per line: the phone's message and the web client's GET each log several lines.
class BatchedLog
{
public:
    // Where the bytes go: stderr unless a test says otherwise.
    using Sink = std::function<void(const char* data, qsizetype size)>;

    static constexpr qsizetype BufferBytes = 64 * 1024;
    static constexpr int MaxDelayMs = 5;

    // Takes over Qt's message handler and follows the event loop of the current thread, which
    // must have one (the application object exists). Also flushes at exit().
    static void install(Sink sink = Sink());
    // Writes what is kept and gives the log back to the handler that was there before.
    static void uninstall();
    // Writes what is kept, now.
    static void flush();
    static bool isInstalled();
};
