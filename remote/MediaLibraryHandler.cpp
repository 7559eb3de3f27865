#include "remote/MediaLibraryHandler.h"

#include "data/ConfigService.h"
#include "data/FileExplorer.h"
#include "data/MediaService.h"
#include "platform/media/MediaPlayerLink.h"
#include "platform/shell/Shell.h"
#include "remote/DesktopLinks.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>

namespace {

// The registered media folders as the phone may use them. The phone only ever names paths it
// was shown below these folders, so nothing else is served.
MediaFolderScope mediaFolderScope()
{
    QStringList folders;
    for (const auto& folder : MediaService::instance()->folders())
        folders.append(folder->path());
    return MediaFolderScope(folders);
}

QJsonObject rootListing()
{
    QJsonArray dirs;
    for (const auto& folder : MediaService::instance()->folders()) {
        QJsonObject entry;
        entry.insert(QStringLiteral("name"), folder->name());
        entry.insert(QStringLiteral("path"), folder->path());
        dirs.append(entry);
    }
    QJsonObject statistics;
    statistics.insert(QStringLiteral("directoryCount"), dirs.size());
    statistics.insert(QStringLiteral("fileCount"), 0);

    QJsonObject packet;
    packet.insert(QStringLiteral("path"), QStringLiteral("/"));
    packet.insert(QStringLiteral("filter"), QStringLiteral("none"));
    packet.insert(QStringLiteral("dirs"), dirs);
    packet.insert(QStringLiteral("files"), QJsonArray());
    packet.insert(QStringLiteral("statistics"), statistics);
    return packet;
}

} // namespace

MediaLibraryHandler::MediaLibraryHandler(DesktopLinks* links)
    : m_links(links)
{
}

QStringList MediaLibraryHandler::commands() const
{
    return {QStringLiteral("mediaexplore"), QStringLiteral("mediaopen")};
}

void MediaLibraryHandler::handle(const QString& command, const QJsonObject& params, CommandContext& context)
{
    if (command == QLatin1String("mediaexplore"))
        explore(params, context);
    else if (command == QLatin1String("mediaopen"))
        open(params);
}

void MediaLibraryHandler::explore(const QJsonObject& params, CommandContext& context)
{
    const QString path = params.value(QLatin1String("path")).toString();
    QJsonObject body;
    if (path.isEmpty() || path == QLatin1String("/")) {
        body.insert(QStringLiteral("root"), true);
        body.insert(QStringLiteral("packet"), rootListing());
    } else {
        const MediaFolderScope scope = mediaFolderScope();
        const QString canonical = scope.resolve(path);
        QJsonObject packet;
        if (canonical.isEmpty()) {
            // Answered like a path that does not exist: nothing tells what lies outside.
            if (QFileInfo::exists(path))
                qWarning().noquote() << "mediaexplore: path outside the media folders refused:" << path;
            packet.insert(QStringLiteral("path"), path);
            packet.insert(QStringLiteral("filter"), QString::fromLatin1(MediaExtensions::kAll));
        } else {
            // The folder that was checked is the one listed; the phone gets its own path back.
            packet = directoryListing(canonical, &scope);
            packet.insert(QStringLiteral("path"), path);
        }
        body.insert(QStringLiteral("packet"), packet);
    }
    context.reply(QStringLiteral("mediaexplore"), body);
}

void MediaLibraryHandler::open(const QJsonObject& params)
{
    const QString path = params.value(QLatin1String("path")).toString();

    // A search in the list text, not a comparison with its entries: a file without suffix
    // (extension ".") counts as audio.
    const QString extension = QLatin1Char('.') + QFileInfo(path).suffix().toLower();
    QString playerKey;
    if (QString::fromLatin1(MediaExtensions::kAudio).indexOf(extension) >= 0)
        playerKey = QStringLiteral("audioPlayer");
    else if (QString::fromLatin1(MediaExtensions::kVideo).indexOf(extension) >= 0)
        playerKey = QStringLiteral("videoPlayer");
    else
        return;

    const QString file = mediaFolderScope().resolve(path);
    if (file.isEmpty() || QFileInfo(file).isDir()) {
        qWarning().noquote() << "mediaopen: not a file in the media folders, ignored:" << path;
        return;
    }

    // The player that turns up next is the one the phone goes on to control.
    m_links->players()->noteLaunch();
    const QString player = ConfigService::instance()->value(playerKey, QString());
    if (player.isEmpty()) {
        m_links->shell()->openDocument(file);
        return;
    }
    // The player runs from its own folder, where it may expect its companion files; ours stays
    // where it is. The file is one argument, whatever quotes or blanks its name holds.
    m_links->shell()->startProgram(QDir::toNativeSeparators(player), {file},
                                   QDir::toNativeSeparators(QFileInfo(player).dir().canonicalPath()));
}
