#pragma once

#include "platform/media/MediaPlayerLink.h"

#include <QDateTime>
#include <QJsonObject>
#include <QString>

#include <optional>

// One "mediacontrol" request as the player link takes it.
struct MediaControlRequest
{
    MediaPlayerLink::Action action = MediaPlayerLink::Action::PlayPause;
    double value = 0;
};

// Reads a "mediacontrol" parameter object: "action" names what to do and, for "seek",
// "position" and "volume", "value" is a JSON number in range. Unknown members are ignored.
// Empty (with the reason in `error`) when the request cannot be run as asked.
std::optional<MediaControlRequest> parseMediaControl(const QJsonObject& params, QString* error = nullptr);

// The "params" of a "mediastatus" reply: {"running": false} when no player runs; otherwise the
// player's name, the track's title, artist and album, "status" as the player names it, and
// where known "position" and "length" in seconds, "volume" (0 to 1), "artUrl" (web art) and
// "art" (local art as a data URL, `inlineArt`).
QJsonObject mediaStatusBody(const MediaPlayerStatus& status, const QString& inlineArt = QString());

// Local cover art made fit to send over the phone's connection: the picture decoded and
// shrunk to a thumbnail, as a JPEG data URL. Only decoded pixels ever leave, so a player that
// names some other file as its art cannot make us send that file. The last picture is kept.
class MediaArt
{
public:
    // Largest side of the thumbnail, in pixels.
    static constexpr int MaxSide = 256;
    // Larger files, or pictures of more pixels, are not decoded.
    static constexpr qint64 MaxFileBytes = 16 * 1024 * 1024;
    static constexpr qint64 MaxPixels = 16 * 1000 * 1000;

    // The data URL for the art at `artUrl` when that is a local picture; empty otherwise.
    QString dataUrl(const QString& artUrl);

private:
    QString m_path;
    QDateTime m_modified;
    qint64 m_size = -1;
    QString m_dataUrl;
};

// Spaces the pushes of changes: at most one per interval. A change inside the interval is
// sent once the interval has passed, with the state of that moment, so the last one is never
// lost.
class PushThrottle
{
public:
    explicit PushThrottle(qint64 intervalMs)
        : m_intervalMs(intervalMs)
    {
    }
    // How long to wait at `nowMs` before the next push may go (0: at once).
    qint64 delay(qint64 nowMs) const;
    void sent(qint64 nowMs) { m_lastMs = nowMs; }

private:
    qint64 m_intervalMs;
    qint64 m_lastMs = -1;
};
