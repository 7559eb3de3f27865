#pragma once

#include <QtGlobal>

#include <memory>

// Sends bytes of an open file to a connected socket inside the kernel, without copying them
// through this process, where the platform can.
class FileSender
{
public:
    enum class Status
    {
        Sent,       // every byte asked for went out
        WouldBlock, // the socket is full for now; `bytes` went out before it filled
        EndOfFile,  // the file ended after `bytes`
        Failed,     // the socket or the file failed (the peer went, for instance)
    };
    struct Result
    {
        Status status = Status::Sent;
        qint64 bytes = 0;
    };

    virtual ~FileSender() = default;
    // Sends up to `maxBytes` of the file from `offset` to the non-blocking socket. Never blocks
    // and leaves the file's own position alone.
    virtual Result send(qintptr socketDescriptor, int fileDescriptor, qint64 offset, qint64 maxBytes) = 0;
    // Writes what the non-blocking socket takes of `data` at once: the count (0 when it is
    // full), or -1 when the socket failed.
    virtual qint64 sendBytes(qintptr socketDescriptor, const char* data, qint64 size) = 0;
};

// The platform's sender; null where there is none, and the caller copies through memory.
std::unique_ptr<FileSender> createFileSender();
