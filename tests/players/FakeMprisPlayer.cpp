#include "FakeMprisPlayer.h"

#include <QDBusMessage>

namespace {
const QString kPath = QStringLiteral("/org/mpris/MediaPlayer2");
}

FakeMprisPlayer::FakeMprisPlayer(const QDBusConnection& bus, const QString& suffix, const QString& identity,
                                 QObject* parent)
    : QObject(parent)
    , identity(identity)
    , m_bus(bus)
    , m_busName(QStringLiteral("org.mpris.MediaPlayer2.") + suffix)
{
    new FakeMprisRoot(this);
    new FakeMprisControls(this);
    m_published = m_bus.registerObject(kPath, this) && m_bus.registerService(m_busName);
}

FakeMprisPlayer::~FakeMprisPlayer()
{
    m_bus.unregisterService(m_busName);
    m_bus.unregisterObject(kPath);
}

void FakeMprisPlayer::record(const QString& call)
{
    m_calls << call;
    emit called(call);
}

void FakeMprisPlayer::transport(const QString& call, const QString& status)
{
    record(call);
    setPlaybackStatus(status);
}

void FakeMprisPlayer::setPlaybackStatus(const QString& status)
{
    playbackStatus = status;
    announce({QStringLiteral("PlaybackStatus")});
}

void FakeMprisPlayer::setTrack(const QString& title, const QString& artist, double lengthSeconds,
                               const QString& artUrl, const QString& trackId)
{
    metadata = {{QStringLiteral("mpris:trackid"), QVariant::fromValue(QDBusObjectPath(trackId))},
                {QStringLiteral("xesam:title"), QVariant(title)},
                {QStringLiteral("xesam:artist"), QVariant(QStringList{artist})},
                {QStringLiteral("xesam:album"), QVariant(QStringLiteral("Album of ") + artist)},
                {QStringLiteral("mpris:length"), QVariant(qlonglong(lengthSeconds * 1e6))}};
    if (!artUrl.isEmpty())
        metadata.insert(QStringLiteral("mpris:artUrl"), artUrl);
    positionUs = 0;
    announce({QStringLiteral("Metadata")});
}

void FakeMprisPlayer::announce(const QStringList& properties)
{
    QVariantMap changed;
    for (const QString& name : properties) {
        if (name == QLatin1String("PlaybackStatus"))
            changed.insert(name, playbackStatus);
        else if (name == QLatin1String("Metadata"))
            changed.insert(name, metadata);
        else if (name == QLatin1String("Volume"))
            changed.insert(name, volume);
    }
    QDBusMessage signal = QDBusMessage::createSignal(kPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                     QStringLiteral("PropertiesChanged"));
    signal << QStringLiteral("org.mpris.MediaPlayer2.Player") << changed << QStringList();
    m_bus.send(signal);
}

void FakeMprisPlayer::seekTo(qint64 us)
{
    positionUs = us;
    QDBusMessage signal = QDBusMessage::createSignal(kPath, QStringLiteral("org.mpris.MediaPlayer2.Player"),
                                                     QStringLiteral("Seeked"));
    signal << qlonglong(us);
    m_bus.send(signal);
}

void FakeMprisControls::setVolume(double volume)
{
    m_player->volume = volume;
    m_player->record(QStringLiteral("Volume ") + QString::number(volume));
    m_player->announce({QStringLiteral("Volume")});
}

void FakeMprisControls::PlayPause()
{
    m_player->record(QStringLiteral("PlayPause"));
    const bool playing = m_player->playbackStatus == QLatin1String("Playing");
    m_player->setPlaybackStatus(playing ? QStringLiteral("Paused") : QStringLiteral("Playing"));
}

void FakeMprisControls::Seek(qlonglong offset)
{
    m_player->record(QStringLiteral("Seek ") + QString::number(offset));
    m_player->seekTo(qMax<qint64>(0, m_player->positionUs + offset));
}

void FakeMprisControls::SetPosition(const QDBusObjectPath& track, qlonglong position)
{
    m_player->record(QStringLiteral("SetPosition %1 %2").arg(track.path()).arg(position));
    m_player->seekTo(position);
}
