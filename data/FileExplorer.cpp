#include "data/FileExplorer.h"

#include <QDateTime>
#include <QFileInfo>
#include <QJsonArray>

MediaFolderScope::MediaFolderScope(const QStringList& folders)
{
    for (const QString& folder : folders) {
        QString root = QFileInfo(folder).canonicalFilePath();
        if (root.isEmpty())
            continue;
        // Whole path components are compared: "/music2" is not inside "/music".
        if (!root.endsWith(QLatin1Char('/')))
            root += QLatin1Char('/');
        m_roots.append(root);
    }
}

QString MediaFolderScope::resolve(const QString& path) const
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    if (canonical.isEmpty())
        return QString();
    const QString asFolder = canonical.endsWith(QLatin1Char('/')) ? canonical : canonical + QLatin1Char('/');
    for (const QString& root : m_roots) {
        if (asFolder.startsWith(root))
            return canonical;
    }
    return QString();
}

FileExplorer::FileExplorer(QObject* parent)
    : QObject(parent)
    , m_dir(QDir::homePath())
{
}

bool FileExplorer::list(const QString& path, QStringList& dirs, QStringList& files, const QString& filter,
                        const MediaFolderScope* scope)
{
    dirs.clear();
    files.clear();

    m_dir.setPath(path);
    if (!m_dir.exists())
        return false;

    // Neither Hidden nor System: dot files stay out. Links are followed, so a link to a folder
    // is listed as a folder under its own name. Name order is by code unit, not by locale.
    m_dir.setFilter(QDir::AllEntries | QDir::NoDotAndDotDot);
    m_dir.setSorting(QDir::DirsFirst | QDir::Name);
    const QFileInfoList entries = m_dir.entryInfoList();

    QStringList extensions;
    if (!filter.isEmpty()) {
        extensions = filter.split(QLatin1Char('|'), Qt::SkipEmptyParts);
        for (QString& extension : extensions)
            extension = extension.toLower();
    }

    for (const QFileInfo& entry : entries) {
        // Listed entries must be usable: a link that leads nowhere, or out of the media
        // folders, could be neither browsed nor opened.
        if (entry.isSymLink() &&
            (scope != nullptr ? scope->resolve(entry.filePath()).isEmpty() : !entry.exists()))
            continue;
        if (entry.isDir()) {
            dirs.append(entry.fileName());
        } else if (extensions.isEmpty()) {
            files.append(entry.fileName());
        } else {
            const QString extension = QLatin1Char('.') + entry.suffix().toLower();
            if (extensions.contains(extension))
                files.append(entry.fileName());
        }
    }
    return true;
}

QJsonObject directoryListing(const QString& path, const MediaFolderScope* scope)
{
    const QString filter = QString::fromLatin1(MediaExtensions::kAll);
    QJsonObject listing;
    listing.insert(QStringLiteral("path"), path);
    listing.insert(QStringLiteral("filter"), filter);

    QStringList dirs;
    QStringList files;
    FileExplorer explorer;
    if (!explorer.list(path, dirs, files, filter, scope))
        return listing;

    QJsonArray fileArray;
    for (const QString& name : qAsConst(files)) {
        // A plain join: a path ending in "/" gives "//", which the file system accepts.
        const QFileInfo info(path + QLatin1Char('/') + name);
        QJsonObject file;
        file.insert(QStringLiteral("name"), name);
        file.insert(QStringLiteral("ext"), info.suffix());
        file.insert(QStringLiteral("size"), QJsonValue(info.size()));
        file.insert(QStringLiteral("lm"),
                    info.lastModified().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
        fileArray.append(file);
    }

    listing.insert(QStringLiteral("dirs"), QJsonArray::fromStringList(dirs));
    listing.insert(QStringLiteral("files"), fileArray);
    QJsonObject statistics;
    statistics.insert(QStringLiteral("directoryCount"), dirs.size());
    statistics.insert(QStringLiteral("fileCount"), fileArray.size());
    listing.insert(QStringLiteral("statistics"), statistics);
    return listing;
}
