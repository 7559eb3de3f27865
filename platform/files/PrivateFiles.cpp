#include "platform/files/PrivateFiles.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace {

// The owner's bits only: the "User" flags describe whoever runs us (all of them for root).
constexpr QFileDevice::Permissions kOwner =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
constexpr QFileDevice::Permissions kEveryoneElse = QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                                                   QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                                   QFileDevice::WriteOther | QFileDevice::ExeOther;

bool keepOwnerOnly(const QString& path, QFileDevice::Permissions wanted)
{
    const QFileDevice::Permissions current = QFile::permissions(path);
    if ((current & kOwner) && !(current & kEveryoneElse))
        return true;
    // An existing file or folder only loses what others had; one without any owner bits gets `wanted`.
    if (QFile::setPermissions(path, current & kOwner ? current & kOwner : wanted))
        return true;
    qWarning().noquote() << "Cannot make private:" << path;
    return false;
}

} // namespace

bool makeFilePrivate(const QString& path)
{
    const QFileDevice::Permissions wanted = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    if (!QFileInfo::exists(path)) {
        if (!QDir().mkpath(QFileInfo(path).absolutePath()))
            return false;
        QFile file(path);
        // Empty until it is made private, so nothing is readable in between.
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return QFileInfo::exists(path) && keepOwnerOnly(path, wanted);
        file.close();
        return QFile::setPermissions(path, wanted);
    }
    return keepOwnerOnly(path, wanted);
}

bool makeFolderPrivate(const QString& path)
{
    if (!QDir().mkpath(path))
        return false;
    return keepOwnerOnly(path, kOwner);
}

QString userSettingsFileName()
{
    return QSettings(QStringLiteral("Orvane"), QStringLiteral("Velmora")).fileName();
}
