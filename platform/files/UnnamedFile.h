#pragma once

#include <QString>

#include <memory>

// A file being written in a folder that nobody sees under a real name until it is complete: it
// has no name at all where the file system allows (else a hidden one), and gets its name by a
// link that never replaces a file already there. Dropped unlinked, it leaves nothing behind.
class UnnamedFile
{
public:
    enum class Link
    {
        Done,
        Taken,  // the name exists; the file stays open and unnamed, so another name may be tried
        Failed, // for another reason (see errorString)
    };

    virtual ~UnnamedFile() = default;
    // Creates the file in `folder`; false when the folder cannot hold it.
    virtual bool create(const QString& folder) = 0;
    // Appends all of `data`; false when the disk takes less (full, over a limit).
    virtual bool write(const char* data, qint64 size) = 0;
    // Puts the content on the disk and makes the file readable by all, as a download is.
    virtual bool sync() = 0;
    // Gives the file `name` in its folder and puts that name on the disk too.
    virtual Link link(const QString& name) = 0;
    virtual QString errorString() const = 0;
};

// The platform's unnamed file.
std::unique_ptr<UnnamedFile> createUnnamedFile();
