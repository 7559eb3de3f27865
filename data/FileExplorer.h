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

// Lists one directory of the local file system for the phone's media browser.
class FileExplorer : public QObject
{
    Q_OBJECT
public:
    explicit FileExplorer(QObject* parent = nullptr);

    // Fills `dirs` with the names of the sub-folders and `files` with the names of the files
    // whose suffix is in `filter` ("|"-separated, case-insensitive; empty: every file), in
    // case-sensitive name order, hidden entries left out. False when `path` is no directory.
    bool list(const QString& path, QStringList& dirs, QStringList& files, const QString& filter);

private:
    QDir m_dir;
};

// The listing object of `path` sent to the phone: "path" and "filter" always, and "dirs",
// "files" (name, ext, size, lm) and "statistics" when `path` is a directory.
QJsonObject directoryListing(const QString& path);
