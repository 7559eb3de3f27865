#pragma once

#include <QString>

// What tells one version of a file from another without reading it: where it lives on disk,
// its size and its modification and change times to the nanosecond. The change time moves on
// every write and cannot be set back by programs, so a file rewritten in place is told apart
// once the clock has moved past its previous change.
struct FileIdentity
{
    qint64 device = 0;
    qint64 inode = 0;
    qint64 size = -1;
    qint64 modifiedNs = 0;
    qint64 changedNs = 0;
    bool regular = false; // a regular file, not a folder, device or pipe
    bool directory = false;

    bool operator==(const FileIdentity& o) const
    {
        return device == o.device && inode == o.inode && size == o.size && modifiedNs == o.modifiedNs &&
               changedNs == o.changedNs && regular == o.regular && directory == o.directory;
    }
    bool operator!=(const FileIdentity& o) const { return !(*this == o); }
};

// The identity of an open file; false when the system cannot tell it.
bool identifyOpenFile(int fileDescriptor, FileIdentity* identity);
// The identity of the file a name leads to (through symbolic links); false when there is none.
bool identifyFile(const QString& fileName, FileIdentity* identity);
