#include "platform/network/LocalPeer.h"

#include <QFile>

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

bool peerIsCurrentUser(qintptr socketDescriptor)
{
    struct ucred credentials = {};
    socklen_t length = sizeof(credentials);
    if (::getsockopt(static_cast<int>(socketDescriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &length) !=
            0 ||
        length != sizeof(credentials))
        return false;
    return credentials.uid == ::geteuid();
}

uint currentUserId()
{
    return static_cast<uint>(::geteuid());
}

bool isPrivateFolder(const QString& path)
{
    if (path.isEmpty())
        return false;
    struct stat status = {};
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
        return false;
    return S_ISDIR(status.st_mode) && status.st_uid == ::geteuid() &&
           (status.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}
