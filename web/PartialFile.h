#pragma once

#include <QString>

#include <memory>

class QTemporaryFile;

// A file being received: written under a hidden name in its folder and given its real name only
// when complete and on disk. Until then, and whenever it is dropped without commit (a cut
// connection, a cancel, a full disk, the program quitting), nothing lies under a real name and
// the hidden file is removed.
class PartialFile final
{
public:
    explicit PartialFile(const QString& folder);
    ~PartialFile();

    // Creates the hidden file; false when the folder cannot hold it.
    bool open();
    // Appends; false when the disk takes less (full, over a limit), and the file is then useless.
    bool write(const char* data, qint64 size);
    qint64 written() const { return m_written; }
    // Syncs and renames to `name`, or to "name (2)"… when taken, never overwriting. Returns the
    // name given, or an empty one when the file could not be finished (and it is removed).
    QString commit(const QString& name);
    QString errorString() const;
    QString folder() const { return m_folder; }

private:
    QString m_folder;
    std::unique_ptr<QTemporaryFile> m_file;
    qint64 m_written = 0;
};
