#include "web/PartialFile.h"

#include "platform/files/UnnamedFile.h"
#include "web/ReceivedFileName.h"

namespace {

// Names tried before giving up; each one was free a moment before it was tried.
constexpr int MaxNameAttempts = 1000;

} // namespace

PartialFile::PartialFile(const QString& folder, std::unique_ptr<UnnamedFile> file)
    : m_folder(folder)
    , m_file(file ? std::move(file) : createUnnamedFile())
{
}

// The unnamed file leaves nothing behind unless it was linked.
PartialFile::~PartialFile() = default;

bool PartialFile::open()
{
    m_open = m_file->create(m_folder);
    return m_open;
}

bool PartialFile::write(const char* data, qint64 size)
{
    if (!m_open || !m_file->write(data, size))
        return false;
    m_written += size;
    return true;
}

QString PartialFile::commit(const QString& name)
{
    if (!m_open || !m_file->sync())
        return QString();
    int number = 1;
    for (int attempt = 0; attempt < MaxNameAttempts; ++attempt, ++number) {
        const QString candidate = ReceivedFileName::unique(m_folder, name, number, &number);
        switch (m_file->link(candidate)) {
        case UnnamedFile::Link::Done:
            m_open = false;
            return candidate;
        case UnnamedFile::Link::Taken:
            continue; // taken since it was chosen: the file is still open, the next number it is
        case UnnamedFile::Link::Failed:
            return QString();
        }
    }
    return QString();
}

QString PartialFile::errorString() const
{
    return m_file->errorString();
}
