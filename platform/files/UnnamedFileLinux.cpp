#include "platform/files/UnnamedFileLinux.h"

#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A failure that says the file system cannot do it, rather than that the name is taken.
bool unsupported(int error)
{
    return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP || error == EPERM;
}

} // namespace

std::unique_ptr<UnnamedFile> createUnnamedFile()
{
    return std::make_unique<UnnamedFileLinux>();
}

UnnamedFileLinux::~UnnamedFileLinux()
{
    if (m_file >= 0)
        ::close(m_file);
    if (!m_linked && !m_hiddenName.isEmpty())
        ::unlinkat(m_folder, m_hiddenName.constData(), 0);
    if (m_folder >= 0)
        ::close(m_folder);
}

bool UnnamedFileLinux::fail()
{
    m_error = errno;
    return false;
}

bool UnnamedFileLinux::create(const QString& folder)
{
    m_folder = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_folder < 0)
        return fail();
    m_file = ::openat(m_folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (m_file >= 0)
        return true;
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
        return fail();
    // No O_TMPFILE here: a hidden name that no other file has.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray name =
            ".velmora-" + QByteArray::number(QRandomGenerator::global()->generate(), 36) + ".part";
        m_file = ::openat(m_folder, name.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
        if (m_file >= 0) {
            m_hiddenName = name;
            return true;
        }
        if (errno != EEXIST)
            return fail();
    }
    return fail();
}

bool UnnamedFileLinux::write(const char* data, qint64 size)
{
    while (size > 0) {
        const ssize_t wrote = ::write(m_file, data, static_cast<size_t>(size));
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0) {
            m_error = wrote == 0 ? ENOSPC : errno;
            return false;
        }
        data += wrote;
        size -= wrote;
    }
    return true;
}

bool UnnamedFileLinux::sync()
{
    if (m_file < 0 || ::fsync(m_file) != 0 || ::fchmod(m_file, 0644) != 0)
        return fail();
    return true;
}

UnnamedFile::Link UnnamedFileLinux::link(const QString& name)
{
    if (m_file < 0 || m_linked)
        return Link::Failed;
    const QByteArray encoded = QFile::encodeName(name);
    const Link result = m_hiddenName.isEmpty() ? linkUnnamed(encoded) : renameHidden(encoded);
    if (result == Link::Done) {
        m_linked = true;
        ::fsync(m_folder); // the new name is on the disk only once its folder is
    }
    return result;
}

UnnamedFile::Link UnnamedFileLinux::linkUnnamed(const QByteArray& name)
{
    // The descriptor's /proc entry can be linked by anyone; the descriptor itself (AT_EMPTY_PATH)
    // only with a capability, so it is the fallback where /proc is not mounted.
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(m_file);
    if (::linkat(AT_FDCWD, self.constData(), m_folder, name.constData(), AT_SYMLINK_FOLLOW) == 0)
        return Link::Done;
    if (errno == ENOENT && ::linkat(m_file, "", m_folder, name.constData(), AT_EMPTY_PATH) == 0)
        return Link::Done;
    m_error = errno;
    return m_error == EEXIST ? Link::Taken : Link::Failed;
}

UnnamedFile::Link UnnamedFileLinux::renameHidden(const QByteArray& name)
{
    if (::renameat2(m_folder, m_hiddenName.constData(), m_folder, name.constData(), RENAME_NOREPLACE) == 0)
        return Link::Done;
    if (errno == EEXIST)
        return Link::Taken;
    if (!unsupported(errno)) {
        m_error = errno;
        return Link::Failed;
    }
    // A second name for the file, then the hidden one goes; link(2) refuses a taken name as well.
    if (::linkat(m_folder, m_hiddenName.constData(), m_folder, name.constData(), 0) == 0) {
        ::unlinkat(m_folder, m_hiddenName.constData(), 0);
        return Link::Done;
    }
    m_error = errno;
    return m_error == EEXIST ? Link::Taken : Link::Failed;
}

QString UnnamedFileLinux::errorString() const
{
    return m_error == 0 ? QString() : QString::fromLocal8Bit(std::strerror(m_error));
}
