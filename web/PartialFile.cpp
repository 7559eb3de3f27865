#include "web/PartialFile.h"

#include "web/ReceivedFileName.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <unistd.h>

PartialFile::PartialFile(const QString& folder)
    : m_folder(folder)
{
}

// The temporary file removes itself unless it was renamed.
PartialFile::~PartialFile() = default;

bool PartialFile::open()
{
    m_file = std::make_unique<QTemporaryFile>(m_folder + QStringLiteral("/.velmora-XXXXXX.part"));
    return m_file->open();
}

bool PartialFile::write(const char* data, qint64 size)
{
    if (!m_file || !m_file->isOpen())
        return false;
    qint64 done = 0;
    while (done < size) {
        const qint64 wrote = m_file->write(data + done, size - done);
        if (wrote <= 0)
            return false;
        done += wrote;
    }
    m_written += size;
    return true;
}

QString PartialFile::commit(const QString& name)
{
    if (!m_file || !m_file->isOpen() || !m_file->flush() || ::fsync(m_file->handle()) != 0)
        return QString();
    // Created private; a received file is as readable as one the browser downloads.
    m_file->setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    // The rename refuses a taken name, so a name taken meanwhile is skipped, not overwritten.
    for (int first = 1; first < 100000; ++first) {
        const QString candidate = ReceivedFileName::unique(m_folder, name, first, &first);
        if (m_file->rename(m_folder + QLatin1Char('/') + candidate)) {
            m_file->setAutoRemove(false);
            // The new name is on disk only once its folder is.
            QFile folder(m_folder);
            if (folder.open(QIODevice::ReadOnly))
                ::fsync(folder.handle());
            return candidate;
        }
        if (!QFileInfo::exists(m_folder + QLatin1Char('/') + candidate))
            break; // failed for another reason than the name
    }
    return QString();
}

QString PartialFile::errorString() const
{
    return m_file ? m_file->errorString() : QString();
}
