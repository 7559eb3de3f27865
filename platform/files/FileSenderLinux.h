#pragma once

#include "platform/files/FileSender.h"

// sendfile(2), which moves the file's pages to the socket without a copy through user space.
class FileSenderLinux final : public FileSender
{
public:
    Result send(qintptr socketDescriptor, int fileDescriptor, qint64 offset, qint64 maxBytes) override;
    qint64 sendBytes(qintptr socketDescriptor, const char* data, qint64 size) override;
};
