#include "platform/files/FileIdentity.h"

#include <QFile>

#include <sys/stat.h>

namespace {

qint64 nanoseconds(const timespec& time)
{
    return qint64(time.tv_sec) * 1000000000 + time.tv_nsec;
}

void fill(const struct stat& status, FileIdentity* identity)
{
    identity->device = qint64(status.st_dev);
    identity->inode = qint64(status.st_ino);
    identity->size = qint64(status.st_size);
    identity->modifiedNs = nanoseconds(status.st_mtim);
    identity->changedNs = nanoseconds(status.st_ctim);
    identity->regular = S_ISREG(status.st_mode);
    identity->directory = S_ISDIR(status.st_mode);
}

} // namespace

bool identifyOpenFile(int fileDescriptor, FileIdentity* identity)
{
    struct stat status = {};
    if (::fstat(fileDescriptor, &status) != 0)
        return false;
    fill(status, identity);
    return true;
}

bool identifyFile(const QString& fileName, FileIdentity* identity)
{
    struct stat status = {};
    if (::stat(QFile::encodeName(fileName).constData(), &status) != 0)
        return false;
    fill(status, identity);
    return true;
}
