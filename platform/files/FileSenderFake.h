#pragma once

#include "platform/files/FileSender.h"

#include <QVector>

// Moves bytes with plain reads and writes, at most `stepBytes` a call and then reporting a full
// socket, so that resumption is exercised; fails for good once `failAfterBytes` have gone.
// Records every call.
class FileSenderFake final : public FileSender
{
public:
    struct Call
    {
        qint64 offset;
        qint64 maxBytes;
    };

    explicit FileSenderFake(qint64 stepBytes = 4096, qint64 failAfterBytes = -1)
        : m_stepBytes(stepBytes)
        , m_failAfterBytes(failAfterBytes)
    {
    }
    Result send(qintptr socketDescriptor, int fileDescriptor, qint64 offset, qint64 maxBytes) override;
    // Takes nothing, so that everything goes the long way through the caller's own buffer.
    qint64 sendBytes(qintptr, const char*, qint64) override { return 0; }

    QVector<Call> calls;
    qint64 sentBytes = 0;

private:
    qint64 m_stepBytes;
    qint64 m_failAfterBytes;
};
