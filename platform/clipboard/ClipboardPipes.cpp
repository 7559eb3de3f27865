#include "platform/clipboard/ClipboardPipes.h"

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

namespace {

void makeNonBlocking(int fd)
{
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

// Writing to a pipe whose reader has gone raises SIGPIPE, which would end the process. The
// signal is held back for the write and one it raised is taken away again: only EPIPE remains.
ssize_t writeWithoutSignal(int fd, const char* data, size_t size)
{
    sigset_t pipeSignal;
    sigset_t previous;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
    const ssize_t n = ::write(fd, data, size);
    const int error = errno;
    if (n < 0 && error == EPIPE && !sigismember(&previous, SIGPIPE)) {
        const timespec zero{};
        while (sigtimedwait(&pipeSignal, nullptr, &zero) < 0 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    errno = error;
    return n;
}

} // namespace

QStringList clipboardTextTypes()
{
    return {QStringLiteral("text/plain;charset=utf-8"), QStringLiteral("UTF8_STRING"),
            QStringLiteral("text/plain"), QStringLiteral("TEXT"), QStringLiteral("STRING")};
}

QString clipboardTextType(const QStringList& offered)
{
    for (const QString& type : clipboardTextTypes()) {
        if (offered.contains(type))
            return type;
    }
    return QString();
}

QVector<QPair<QString, QByteArray>> clipboardTextOffer(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    QVector<QPair<QString, QByteArray>> types;
    for (const QString& type : clipboardTextTypes())
        types.append({type, bytes});
    return types;
}

ClipboardPipeWriter::ClipboardPipeWriter(int fd, QByteArray bytes, Finished finished, QObject* parent)
    : QObject(parent)
    , m_fd(fd)
    , m_bytes(std::move(bytes))
    , m_finished(std::move(finished))
    , m_notifier(fd, QSocketNotifier::Write)
{
    makeNonBlocking(fd);
    connect(&m_notifier, &QSocketNotifier::activated, this, &ClipboardPipeWriter::writeSome);
}

ClipboardPipeWriter::~ClipboardPipeWriter()
{
    m_notifier.setEnabled(false);
    if (m_fd >= 0)
        ::close(m_fd);
}

void ClipboardPipeWriter::writeSome()
{
    while (m_written < m_bytes.size()) {
        const ssize_t n =
            writeWithoutSignal(m_fd, m_bytes.constData() + m_written, size_t(m_bytes.size() - m_written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            return; // the reader is slow: the notifier calls again
        if (n <= 0)
            return finish(false); // the reader went away
        m_written += n;
    }
    finish(true);
}

void ClipboardPipeWriter::finish(bool complete)
{
    m_notifier.setEnabled(false);
    // The reader sees the end only once the pipe is closed, before it is told we are done.
    ::close(m_fd);
    m_fd = -1;
    if (m_finished)
        m_finished(complete);
    deleteLater(); // not from inside the notifier's own signal
}

ClipboardPipeReader::ClipboardPipeReader(int fd, qint64 maxBytes, int timeoutMs, Clipboard::ReadDone done,
                                         QObject* parent)
    : ClipboardPipeReader(fd, maxBytes, timeoutMs,
                          BytesDone([done = std::move(done), maxBytes](ClipboardRead::Result result,
                                                                       const QByteArray& bytes) {
                              done(result == ClipboardRead::Result::Text
                                       ? clipboardTextFromUtf8(bytes, maxBytes)
                                       : ClipboardRead{result, QString()});
                          }),
                          parent)
{
}

ClipboardPipeReader::ClipboardPipeReader(int fd, qint64 maxBytes, int timeoutMs, BytesDone done,
                                         QObject* parent)
    : QObject(parent)
    , m_fd(fd)
    , m_maxBytes(maxBytes)
    , m_done(std::move(done))
    , m_notifier(fd, QSocketNotifier::Read)
{
    makeNonBlocking(fd);
    connect(&m_notifier, &QSocketNotifier::activated, this, &ClipboardPipeReader::readSome);
    m_timeout.setSingleShot(true);
    connect(&m_timeout, &QTimer::timeout, this, [this] { finish(ClipboardRead::Result::Unavailable); });
    m_timeout.start(timeoutMs);
}

ClipboardPipeReader::~ClipboardPipeReader()
{
    m_notifier.setEnabled(false);
    if (m_fd >= 0)
        ::close(m_fd);
}

void ClipboardPipeReader::readSome()
{
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            return;
        if (n < 0)
            return finish(ClipboardRead::Result::Unavailable);
        if (n == 0)
            return finish(ClipboardRead::Result::Text);
        if (m_bytes.size() + n > m_maxBytes)
            return finish(ClipboardRead::Result::TooLarge);
        m_bytes.append(buffer, int(n));
    }
}

void ClipboardPipeReader::finish(ClipboardRead::Result result)
{
    if (!m_done)
        return;
    m_notifier.setEnabled(false);
    m_timeout.stop();
    // Closed at once: a writer still sending learns that nobody reads any more.
    ::close(m_fd);
    m_fd = -1;
    const QByteArray bytes = result == ClipboardRead::Result::Text ? std::move(m_bytes) : QByteArray();
    m_bytes.clear();
    const BytesDone done = std::move(m_done);
    m_done = nullptr;
    deleteLater();
    done(result, bytes);
}
