#pragma once

#include "platform/files/UnnamedFile.h"

#include <QByteArray>

// O_TMPFILE, named with linkat(2); where the file system has no O_TMPFILE, a hidden file named
// with renameat2(2) and RENAME_NOREPLACE (or link(2) where that flag is not known). Both refuse
// a name that exists, so nothing is overwritten, even when the name was taken a moment ago.
class UnnamedFileLinux final : public UnnamedFile
{
public:
    UnnamedFileLinux() = default;
    ~UnnamedFileLinux() override;
    UnnamedFileLinux(const UnnamedFileLinux&) = delete;
    UnnamedFileLinux& operator=(const UnnamedFileLinux&) = delete;

    bool create(const QString& folder) override;
    bool write(const char* data, qint64 size) override;
    bool sync() override;
    Link link(const QString& name) override;
    QString errorString() const override;

private:
    bool fail();
    Link linkUnnamed(const QByteArray& name);
    Link renameHidden(const QByteArray& name);

    int m_folder = -1;
    int m_file = -1;
    QByteArray m_hiddenName; // empty while the file has no name
    bool m_linked = false;
    int m_error = 0;
};
