#include "web/StaticFileRoute.h"

#include "web/FileResponseCache.h"
#include "web/HttpRequestParser.h"
#include "web/HttpResponse.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

namespace {

// Files up to this size go out in one write (and are kept for the next request); larger ones
// go out in steps, so that a big file never sits whole in memory.
constexpr qint64 WholeFileLimit = FileResponseCache::MaxBodyBytes;

QString absoluteClean(const QString& folder)
{
    // Only a relative name needs the working directory (a system call) to be made absolute.
    return QDir::cleanPath(QDir::isAbsolutePath(folder) ? folder : QDir(folder).absolutePath());
}

} // namespace

StaticFileRoute::StaticFileRoute(std::function<qint64()> nowMs)
    : m_clientFolders(defaultClientFolders())
    , m_fileCache(std::make_unique<FileResponseCache>())
    , m_nowMs(std::move(nowMs))
{
}

StaticFileRoute::~StaticFileRoute() = default;

QStringList StaticFileRoute::defaultClientFolders()
{
    // The folder beside the program (a build), then that of an installed program.
    const QString programDir = QCoreApplication::applicationDirPath();
    QStringList folders{programDir + QStringLiteral("/mobile")};
    folders << QDir::cleanPath(programDir + QLatin1Char('/') +
                               QStringLiteral(VELMORA_INSTALLED_MOBILE_FROM_BINARY));
    folders.removeDuplicates();
    return folders;
}

bool StaticFileRoute::matches(const HttpRequest& request) const
{
    return request.method == QLatin1String("GET");
}

void StaticFileRoute::handle(const HttpRequest& request, HttpExchange& exchange)
{
    const QString& path = request.path;
    // The lines are formatted only when they go anywhere, since a disabled qDebug() still
    // builds its text.
    const bool logging = QLoggingCategory::defaultCategory()->isDebugEnabled();
    if (logging) {
        qDebug() << "Requested path:" << path;
        qDebug() << "Application directory:" << QCoreApplication::applicationDirPath();
    }

    QString absolute;
    FileIdentity identity;
    const QString fileName = findFile(path, logging, &absolute, &identity);
    if (fileName.isEmpty()) {
        qDebug() << "File not found for path:" << path;
        exchange.sendError(404, QStringLiteral("Not Found"));
        return;
    }
    qDebug() << "File found at:" << fileName;
    sendFile(exchange, fileName, absolute, identity);
}

QString StaticFileRoute::folderRoot(const QString& folder) const
{
    FileIdentity identity;
    if (!identifyFile(folder, &identity))
        return QString();
    const auto known = m_folderRoots.constFind(folder);
    if (known != m_folderRoots.cend() && known->first == identity)
        return known->second;
    const QString root = QFileInfo(folder).canonicalFilePath();
    if (m_folderRoots.size() >= 16) // folders may be set anew; old ones need not pile up
        m_folderRoots.clear();
    m_folderRoots.insert(folder, {identity, root});
    return root;
}

bool StaticFileRoute::isInsideFolder(const QString& folder, const QString& relative) const
{
    // The file's canonical name must lie below the folder's: no symlink and no relative trick
    // leads out. Checked on every request, cached answer or not, since a file or a folder on
    // the way may have been replaced by a link meanwhile.
    const QChar separator = QDir::separator();
    if (!relative.startsWith(separator)) // "mobile-private.txt" is no file of "mobile"
        return false;
    const QString root = folderRoot(folder);
    if (root.isEmpty())
        return false;
    // Without a link below the folder (and ".." is refused earlier), the file lies where its
    // name says; only a name with a link on the way needs resolving in full.
    for (int slash = relative.indexOf(separator, 1);; slash = relative.indexOf(separator, slash + 1)) {
        const QString prefix = folder + (slash < 0 ? relative : relative.left(slash));
        if (QFileInfo(prefix).isSymLink())
            return QFileInfo(folder + relative).canonicalFilePath().startsWith(root + separator);
        if (slash < 0)
            return true;
    }
}

QString StaticFileRoute::findFile(const QString& path, bool logging, QString* absolute,
                                  FileIdentity* identity) const
{
    if (!isConfinedRequestPath(path)) {
        qDebug() << "Rejected path outside the web folder:" << path;
        return QString();
    }
    QString relative = path == QLatin1String("/") ? QStringLiteral("/index.html") : path;
    relative.replace(QLatin1Char('/'), QDir::separator());

    // Only the installed client folders: whatever lies under our current directory (the home
    // folder, say) is no business of the phone's browser.
    QStringList seen;
    for (const QString& folder : m_clientFolders) {
        const QString clean = absoluteClean(folder);
        if (seen.contains(clean))
            continue;
        seen << clean;
        const QString candidate = folder + relative;
        if (logging)
            qDebug() << "Trying path:" << candidate;
        const QString name = clean + relative;
        if (identifyFile(name, identity) && identity->regular && isInsideFolder(clean, relative)) {
            *absolute = name;
            return candidate;
        }
    }
    return QString();
}

void StaticFileRoute::sendFile(HttpExchange& exchange, const QString& fileName, const QString& absolute,
                               const FileIdentity& seen)
{
    // A small file unchanged since it was last read goes out without being opened.
    const FileResponseCache::Entry* entry = m_fileCache->find(absolute, seen);
    if (entry != nullptr && !entry->response.isEmpty()) {
        exchange.sendResponse(entry->response);
        return;
    }
    QByteArray head = entry != nullptr ? entry->head : QByteArray();

    auto file = std::make_unique<QFile>(fileName);
    if (!file->open(QIODevice::ReadOnly)) {
        exchange.sendError(500, QStringLiteral("Internal Server Error"));
        return;
    }
    // From here on the identity of what was opened, not of what the name meant a moment ago.
    FileIdentity identity;
    const bool identified = identifyOpenFile(file->handle(), &identity);
    if (!identified || identity != seen)
        head.clear();

    const qint64 size = identified ? identity.size : file->size();
    if (size <= WholeFileLimit) {
        const QByteArray content = file->readAll();
        file->close();
        const bool complete = identified && content.size() == identity.size;
        if (head.isEmpty() || !complete)
            head = HttpResponse::head("HTTP/1.1 200 OK", HttpResponse::mimeTypeName(fileName, content),
                                      content.size());
        const QByteArray response = head + content;
        if (complete)
            m_fileCache->store(absolute, {identity, head, response}, m_nowMs());
        exchange.sendResponse(response);
        return;
    }

    if (head.isEmpty()) {
        head = HttpResponse::head("HTTP/1.1 200 OK", HttpResponse::mimeTypeName(fileName, file.get()), size);
        if (identified)
            m_fileCache->store(absolute, {identity, head, QByteArray()}, m_nowMs());
    }
    exchange.sendFile(head, std::move(file), 0, size);
}
