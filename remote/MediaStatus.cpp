#include "remote/MediaStatus.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QUrl>

#include <cmath>

namespace {

using Action = MediaPlayerLink::Action;

// Far beyond any track, yet small enough for every player's count of microseconds.
constexpr double kMaxSeconds = 1e7;

struct ActionName
{
    const char* name;
    Action action;
    double min; // the range of "value"; NaN when the action takes none
    double max;
};

const ActionName kActions[] = {
    {"play", Action::Play, NAN, NAN},
    {"pause", Action::Pause, NAN, NAN},
    {"playpause", Action::PlayPause, NAN, NAN},
    {"next", Action::Next, NAN, NAN},
    {"previous", Action::Previous, NAN, NAN},
    {"seek", Action::Seek, -kMaxSeconds, kMaxSeconds},
    {"position", Action::Position, 0, kMaxSeconds},
    {"volume", Action::Volume, 0, 1},
};

} // namespace

std::optional<MediaControlRequest> parseMediaControl(const QJsonObject& params, QString* error)
{
    const auto fail = [error](const QString& reason) {
        if (error != nullptr)
            *error = reason;
        return std::nullopt;
    };
    const QJsonValue action = params.value(QLatin1String("action"));
    for (const ActionName& entry : kActions) {
        if (action.toString() != QLatin1String(entry.name))
            continue;
        MediaControlRequest request;
        request.action = entry.action;
        if (std::isnan(entry.min))
            return request;
        const QJsonValue value = params.value(QLatin1String("value"));
        // Strictly a number: a string or a missing value is not taken for 0.
        if (!value.isDouble())
            return fail(QStringLiteral("\"value\" must be a number for ") + action.toString());
        const double number = value.toDouble();
        if (!std::isfinite(number) || number < entry.min || number > entry.max)
            return fail(QStringLiteral("\"value\" out of range for ") + action.toString());
        request.value = number;
        return request;
    }
    return fail(QStringLiteral("unknown \"action\""));
}

QJsonObject mediaStatusBody(const MediaPlayerStatus& status, const QString& inlineArt)
{
    QJsonObject body;
    body.insert(QStringLiteral("running"), status.running);
    if (!status.running)
        return body;
    body.insert(QStringLiteral("player"), status.player);
    body.insert(QStringLiteral("title"), status.title);
    body.insert(QStringLiteral("artist"), status.artist);
    body.insert(QStringLiteral("album"), status.album);
    body.insert(QStringLiteral("status"), status.playbackStatus);
    if (status.position >= 0)
        body.insert(QStringLiteral("position"), status.position);
    if (status.length > 0)
        body.insert(QStringLiteral("length"), status.length);
    if (status.volume >= 0)
        body.insert(QStringLiteral("volume"), status.volume);
    // Web art the phone loads itself; the PC's own files only as the thumbnail.
    const QUrl art(status.artUrl);
    if (art.scheme() == QLatin1String("https") || art.scheme() == QLatin1String("http"))
        body.insert(QStringLiteral("artUrl"), status.artUrl);
    if (!inlineArt.isEmpty())
        body.insert(QStringLiteral("art"), inlineArt);
    return body;
}

QString MediaArt::dataUrl(const QString& artUrl)
{
    const QUrl url(artUrl);
    if (!url.isLocalFile())
        return QString();
    const QFileInfo info(url.toLocalFile());
    if (!info.isFile() || info.size() > MaxFileBytes)
        return QString();
    if (info.absoluteFilePath() == m_path && info.lastModified() == m_modified && info.size() == m_size)
        return m_dataUrl;
    m_path = info.absoluteFilePath();
    m_modified = info.lastModified();
    m_size = info.size();
    m_dataUrl.clear();

    QImageReader reader(m_path);
    const QSize size = reader.size();
    if (!size.isValid() || qint64(size.width()) * size.height() > MaxPixels)
        return QString();
    if (size.width() > MaxSide || size.height() > MaxSide)
        reader.setScaledSize(size.scaled(MaxSide, MaxSide, Qt::KeepAspectRatio));
    const QImage image = reader.read();
    if (image.isNull())
        return QString();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "JPEG", 80))
        return QString();
    m_dataUrl = QStringLiteral("data:image/jpeg;base64,") + QString::fromLatin1(bytes.toBase64());
    return m_dataUrl;
}

qint64 PushThrottle::delay(qint64 nowMs) const
{
    if (m_lastMs < 0 || nowMs - m_lastMs >= m_intervalMs)
        return 0;
    return m_intervalMs - (nowMs - m_lastMs);
}
