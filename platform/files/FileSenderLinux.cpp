#include "platform/files/FileSenderLinux.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <ctime>

#include <pthread.h>
#include <sys/sendfile.h>
#include <sys/socket.h>

namespace {

// One call moves at most this much; the loop below goes on while the socket takes more.
constexpr qint64 MaxPerCall = 1 << 30;

// A socket whose peer has gone raises SIGPIPE in the sending thread, which would end the
// process; unlike send(2), sendfile(2) has no flag against it. The signal is held back for the
// call and a SIGPIPE the call raised is taken away again, so only EPIPE remains.
class PipeSignalBlocker
{
public:
    PipeSignalBlocker()
    {
        sigemptyset(&m_pipe);
        sigaddset(&m_pipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &m_pipe, &m_previous);
    }
    ~PipeSignalBlocker() { pthread_sigmask(SIG_SETMASK, &m_previous, nullptr); }
    PipeSignalBlocker(const PipeSignalBlocker&) = delete;
    PipeSignalBlocker& operator=(const PipeSignalBlocker&) = delete;

    void discardRaised()
    {
        if (sigismember(&m_previous, SIGPIPE))
            return; // held back before us: a pending one is not ours to take
        const timespec zero{};
        while (sigtimedwait(&m_pipe, nullptr, &zero) < 0 && errno == EINTR) {
        }
    }

private:
    sigset_t m_pipe;
    sigset_t m_previous;
};

} // namespace

FileSender::Result FileSenderLinux::send(qintptr socketDescriptor, int fileDescriptor, qint64 offset,
                                         qint64 maxBytes)
{
    PipeSignalBlocker blocker;
    Result result;
    while (result.bytes < maxBytes) {
        off_t position = static_cast<off_t>(offset + result.bytes);
        const auto count = static_cast<size_t>(std::min(maxBytes - result.bytes, MaxPerCall));
        const ssize_t sent = ::sendfile(static_cast<int>(socketDescriptor), fileDescriptor, &position, count);
        if (sent > 0) {
            result.bytes += sent;
            continue;
        }
        if (sent == 0) {
            result.status = Status::EndOfFile;
            break;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            result.status = Status::WouldBlock;
            break;
        }
        if (errno == EPIPE)
            blocker.discardRaised();
        result.status = Status::Failed;
        break;
    }
    return result;
}

qint64 FileSenderLinux::sendBytes(qintptr socketDescriptor, const char* data, qint64 size)
{
    for (;;) {
        const ssize_t sent = ::send(static_cast<int>(socketDescriptor), data, static_cast<size_t>(size),
                                    MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent >= 0)
            return sent;
        if (errno == EINTR)
            continue;
        return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
    }
}

std::unique_ptr<FileSender> createFileSender()
{
    return std::make_unique<FileSenderLinux>();
}
