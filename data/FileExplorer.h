#pragma once

#include <QDir>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QStringList>

// The media file suffixes the phone browses and opens, lower case with the leading dot,
// separated by "|". The listing filter is the video list followed by the audio list.
namespace MediaExtensions {
inline constexpr char kVideo[] = ".mkv|.avi|.mp4|.mov|.mpg|.wmv|.dat|.ts|.iso";
inline constexpr char kAudio[] = ".mp3|.wav|.aac|.flac|.dts|.m4a|.cue";
inline constexpr char kAll[] =
    ".mkv|.avi|.mp4|.mov|.mpg|.wmv|.dat|.ts|.iso|.mp3|.wav|.aac|.flac|.dts|.m4a|.cue";
} // namespace MediaExtensions

// The registered media folders and everything below them: all that the phone may browse and
// open. Links are resolved before the comparison, so a link counts where its target lies.
class MediaFolderScope
{
public:
    explicit MediaFolderScope(const QStringList& folders);
    // The canonical form of `path` when it is one of the folders or lies below one; empty
    // otherwise, also for a path that does not exist (a dangling link, say).
    QString resolve(const QString& path) const;

private:
    QStringList m_roots; // canonical, each ending in "/"
};

// Lists one directory of the local file system for the phone's media browser.
class FileExplorer : public QObject
{
    Q_OBJECT
public:
    explicit FileExplorer(QObject* parent = nullptr);

    // Fills `dirs` with the names of the sub-folders and `files` with the names of the files
    // whose suffix is in `filter` ("|"-separated, case-insensitive; empty: every file), in
    // case-sensitive name order, hidden entries left out. Dangling links are left out, and with
    // a `scope` so are links whose target lies outside it. False when `path` is no directory.
    bool list(const QString& path, QStringList& dirs, QStringList& files, const QString& filter,
              const MediaFolderScope* scope = nullptr);
};

// The listing object of `path` sent to the phone: "path" and "filter" always, and "dirs",
// "files" (name, ext, size, lm) and "statistics" when `path` is a directory. With a `scope`,
// only links that lead inside it are listed: the phone is shown nothing it cannot use.
QJsonObject directoryListing(const QString& path, const MediaFolderScope* scope = nullptr);
