#include "platform/files/FileSenderFake.h"

#include <QByteArray>

#include <algorithm>
#include <cerrno>

#include <sys/socket.h>
#include <unistd.h>

FileSender::Result FileSenderFake::send(qintptr socketDescriptor, int fileDescriptor, qint64 offset,
                                        qint64 maxBytes)
{
    calls.append({offset, maxBytes});
    if (m_failAfterBytes >= 0 && sentBytes >= m_failAfterBytes)
        return {Status::Failed, 0};
    qint64 want = std::min(maxBytes, m_stepBytes);
    if (m_failAfterBytes >= 0)
        want = std::min(want, m_failAfterBytes - sentBytes);
    QByteArray buffer(static_cast<int>(want), Qt::Uninitialized);
    const ssize_t read = ::pread(fileDescriptor, buffer.data(), static_cast<size_t>(want), offset);
    if (read < 0)
        return {Status::Failed, 0};
    if (read == 0 && want > 0)
        return {Status::EndOfFile, 0};
    const ssize_t sent = ::send(static_cast<int>(socketDescriptor), buffer.constData(),
                                static_cast<size_t>(read), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0)
        return {errno == EAGAIN || errno == EWOULDBLOCK ? Status::WouldBlock : Status::Failed, 0};
    sentBytes += sent;
    if (sent == maxBytes)
        return {Status::Sent, sent};
    return {Status::WouldBlock, sent};
}
