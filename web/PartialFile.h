#pragma once

#include <QString>

#include <memory>

class UnnamedFile;

// A file being received: written under no name (or a hidden one) in its folder and given its
// real name only when complete and on disk. Until then, and whenever it is dropped without
// commit (a cut connection, a cancel, a full disk, the program quitting), nothing lies under a
// real name and nothing of it is left.
class PartialFile final
{
public:
    // Writes into `file` (by default the platform's).
    explicit PartialFile(const QString& folder, std::unique_ptr<UnnamedFile> file = nullptr);
    ~PartialFile();

    // Creates the file; false when the folder cannot hold it.
    bool open();
    // Appends; false when the disk takes less (full, over a limit), and the file is then useless.
    bool write(const char* data, qint64 size);
    qint64 written() const { return m_written; }
    // Syncs and names it `name`, or "name (2)"… when taken, never overwriting; a name taken
    // between the choice and the link is skipped as well. Returns the name given, or an empty
    // one when the file could not be finished (and it is removed).
    QString commit(const QString& name);
    QString errorString() const;
    QString folder() const { return m_folder; }

private:
    QString m_folder;
    std::unique_ptr<UnnamedFile> m_file;
    bool m_open = false;
    qint64 m_written = 0;
};
