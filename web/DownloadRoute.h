#pragma once

#include "web/HttpRoute.h"

#include <QByteArray>

class FileTransfer;

// GET "download/<token>": a file the PC offered to the browser, as an attachment, through the
// server's bounded file path; a single "Range: bytes=" range resumes it (206).
class DownloadRoute final : public HttpRoute
{
public:
    explicit DownloadRoute(FileTransfer* transfer);

    bool matches(const HttpRequest& request) const override;
    void handle(const HttpRequest& request, HttpExchange& exchange) override;

    // The first and last byte a Range value asks for in a file of `size` bytes; false when it
    // asks for none of them (416). An absent, unsupported or invalid value (an end before its
    // start) means the whole file.
    static bool parseRange(const QByteArray& value, qint64 size, qint64* first, qint64* last);

private:
    FileTransfer* m_transfer;
};
