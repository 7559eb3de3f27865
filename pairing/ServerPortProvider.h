#pragma once

// Implemented by the window that owns the command server, so that pages below it can
// advertise the port the server really listens on.
class ServerPortProvider
{
public:
    virtual ~ServerPortProvider() = default;
    virtual int serverPort() const = 0;
};
