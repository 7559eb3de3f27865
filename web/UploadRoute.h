#pragma once

#include "web/HttpRoute.h"

class FileTransfer;

// POST "/upload": one file from the paired browser per request, streamed into a hidden partial
// file in the receiving folder and given its real name once complete. The request carries a
// ticket from the sealed channel ("X-Velmora-Ticket"), the file's name percent-encoded
// ("X-Velmora-Name") and its size (Content-Length).
class UploadRoute final : public HttpRoute
{
public:
    explicit UploadRoute(FileTransfer* transfer);

    bool matches(const HttpRequest& request) const override;
    void handle(const HttpRequest& request, HttpExchange& exchange) override;

private:
    FileTransfer* m_transfer;
};
