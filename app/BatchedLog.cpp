#include "app/BatchedLog.h"

#include <QAbstractEventDispatcher>
#include <QByteArray>
#include <QString>
#include <QThread>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

struct LogState
{
    std::mutex mutex;
    std::string buffer;
    Clock::time_point oldest;
    BatchedLog::Sink sink;
    QtMessageHandler previous = nullptr;
    QThread* loopThread = nullptr;
    QMetaObject::Connection blockHook;
    bool installed = false;
    bool exitHookRegistered = false;
    // Qt ends the program right after handing over such a message: it must be out by then.
    bool fatalWarnings = false;
    bool fatalCriticals = false;
};

// Never destroyed: lines logged by static destructors at exit still find it.
LogState& state()
{
    static LogState* const s = new LogState;
    return *s;
}

void writeOut(const LogState& s, const char* data, qsizetype size)
{
    if (size <= 0)
        return;
    if (s.sink) {
        s.sink(data, size);
        return;
    }
    std::fwrite(data, 1, size_t(size), stderr); // stderr is unbuffered: one write
    std::fflush(stderr);
}

void flushLocked(LogState& s)
{
    if (s.buffer.empty())
        return;
    writeOut(s, s.buffer.data(), qsizetype(s.buffer.size()));
    s.buffer.clear();
    // A rare huge burst must not keep its memory for the rest of the run.
    if (s.buffer.capacity() > size_t(BatchedLog::BufferBytes) * 2)
        std::string().swap(s.buffer);
}

bool mustWriteNow(const LogState& s, QtMsgType type)
{
    switch (type) {
    case QtFatalMsg:
        return true;
    case QtCriticalMsg:
        return s.fatalCriticals || s.fatalWarnings;
    case QtWarningMsg:
        return s.fatalWarnings;
    default:
        break;
    }
    // Another thread's line: this thread's event loop may be asleep and would hold it.
    return QThread::currentThread() != s.loopThread;
}

void handleMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    // The line exactly as Qt's own handler prints it.
    const QString formatted = qFormatLogMessage(type, context, message);
    if (formatted.isNull())
        return;
    QByteArray line = formatted.toLocal8Bit();
    line.truncate(int(qstrnlen(line.constData(), uint(line.size())))); // it prints up to a NUL
    line += '\n';

    LogState& s = state();
    const std::lock_guard<std::mutex> lock(s.mutex);
    if (!s.installed || mustWriteNow(s, type) || line.size() > BatchedLog::BufferBytes) {
        flushLocked(s);
        writeOut(s, line.constData(), line.size());
        return;
    }
    if (qsizetype(s.buffer.size()) + line.size() > BatchedLog::BufferBytes)
        flushLocked(s);
    const Clock::time_point now = Clock::now();
    if (s.buffer.empty())
        s.oldest = now;
    s.buffer.append(line.constData(), size_t(line.size()));
    if (now - s.oldest >= std::chrono::milliseconds(BatchedLog::MaxDelayMs))
        flushLocked(s);
}

extern "C" void flushAtExit()
{
    BatchedLog::flush();
}

} // namespace

void BatchedLog::install(Sink sink)
{
    LogState& s = state();
    {
        const std::lock_guard<std::mutex> lock(s.mutex);
        if (s.installed)
            return;
        s.sink = std::move(sink);
        s.loopThread = QThread::currentThread();
        s.fatalWarnings = !qEnvironmentVariableIsEmpty("QT_FATAL_WARNINGS");
        s.fatalCriticals = !qEnvironmentVariableIsEmpty("QT_FATAL_CRITICALS");
        s.installed = true;
        if (!s.exitHookRegistered) {
            std::atexit(flushAtExit);
            s.exitHookRegistered = true;
        }
    }
    // The end of a pass of the event loop: whatever it logged goes out together.
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance())
        s.blockHook = QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, [] { flush(); });
    s.previous = qInstallMessageHandler(handleMessage);
}

void BatchedLog::uninstall()
{
    LogState& s = state();
    QtMessageHandler previous = nullptr;
    {
        const std::lock_guard<std::mutex> lock(s.mutex);
        if (!s.installed)
            return;
        flushLocked(s);
        s.installed = false; // a line that still reaches us goes out at once
        previous = s.previous;
        s.previous = nullptr;
    }
    qInstallMessageHandler(previous);
    QObject::disconnect(s.blockHook);
}

void BatchedLog::flush()
{
    LogState& s = state();
    const std::lock_guard<std::mutex> lock(s.mutex);
    flushLocked(s);
}

bool BatchedLog::isInstalled()
{
    LogState& s = state();
    const std::lock_guard<std::mutex> lock(s.mutex);
    return s.installed;
}
