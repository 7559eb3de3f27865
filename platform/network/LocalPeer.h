#pragma once

#include <QString>
#include <QtGlobal>

// Who is at the other end of a local (Unix domain) socket. The single-instance channel hands out
// the pairing links, so both ends make sure they talk to the same user, whatever the folder and
// socket permissions already promise.

// True when the process at the other end of the connected local socket runs as this process's
// user; false when it runs as someone else or the system cannot tell.
bool peerIsCurrentUser(qintptr socketDescriptor);

// This process's user, as the system knows it: unlike USER or LOGNAME, the same in every
// session and terminal of that user.
uint currentUserId();

// True when `path` is a folder of this user that nobody else may enter or list (no group or
// other permission bits), so that the sockets inside it are reachable only by this user.
bool isPrivateFolder(const QString& path);
