#pragma once

// A media player of our own that speaks MPRIS 2 on a D-Bus connection: it keeps its state,
// announces changes as real players do (PropertiesChanged, Seeked) and writes down every
// request it gets ("Play", "Seek -5000000", "SetPosition /track/1 42000000", "Volume 0.25").

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

class FakeMprisPlayer final : public QObject
{
    Q_OBJECT
public:
    // Publishes the player as org.mpris.MediaPlayer2.<suffix> on `bus`.
    FakeMprisPlayer(const QDBusConnection& bus, const QString& suffix, const QString& identity,
                    QObject* parent = nullptr);
    ~FakeMprisPlayer() override;

    bool isPublished() const { return m_published; }
    QString busName() const { return m_busName; }

    void setPlaybackStatus(const QString& status);
    void setTrack(const QString& title, const QString& artist, double lengthSeconds,
                  const QString& artUrl = {}, const QString& trackId = QStringLiteral("/track/1"));
    const QStringList& calls() const { return m_calls; }

    // What the adaptors read and change.
    QString identity;
    QString playbackStatus = QStringLiteral("Stopped");
    QVariantMap metadata;
    double volume = 1.0;
    qint64 positionUs = 0;

    void record(const QString& call);
    // Records `call` and moves to `status`, as Play, Pause and Stop do.
    void transport(const QString& call, const QString& status);
    // Tells listeners that `properties` of the player interface changed.
    void announce(const QStringList& properties);
    void seekTo(qint64 us);

signals:
    void called(const QString& call);

private:
    QDBusConnection m_bus;
    QString m_busName;
    QStringList m_calls;
    bool m_published = false;
};

// The player's adaptors share their link to it.
class FakeMprisAdaptor : public QDBusAbstractAdaptor
{
public:
    explicit FakeMprisAdaptor(FakeMprisPlayer* player)
        : QDBusAbstractAdaptor(player)
        , m_player(player)
    {
    }

protected:
    FakeMprisPlayer* m_player;
};

class FakeMprisRoot final : public FakeMprisAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(QString Identity READ identity)
    Q_PROPERTY(bool CanQuit READ no)
    Q_PROPERTY(bool CanRaise READ no)
    Q_PROPERTY(bool HasTrackList READ no)
    Q_PROPERTY(QStringList SupportedUriSchemes READ none)
    Q_PROPERTY(QStringList SupportedMimeTypes READ none)
public:
    using FakeMprisAdaptor::FakeMprisAdaptor;
    QString identity() const { return m_player->identity; }
    bool no() const { return false; }
    QStringList none() const { return {}; }
public slots:
    void Raise() { m_player->record(QStringLiteral("Raise")); }
    void Quit() { m_player->record(QStringLiteral("Quit")); }
};

class FakeMprisControls final : public FakeMprisAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ playbackStatus)
    Q_PROPERTY(QVariantMap Metadata READ metadata)
    Q_PROPERTY(double Volume READ volume WRITE setVolume)
    Q_PROPERTY(qlonglong Position READ position)
    Q_PROPERTY(double Rate READ one)
    Q_PROPERTY(double MinimumRate READ one)
    Q_PROPERTY(double MaximumRate READ one)
    Q_PROPERTY(bool CanGoNext READ yes)
    Q_PROPERTY(bool CanGoPrevious READ yes)
    Q_PROPERTY(bool CanPlay READ yes)
    Q_PROPERTY(bool CanPause READ yes)
    Q_PROPERTY(bool CanSeek READ yes)
    Q_PROPERTY(bool CanControl READ yes)
public:
    using FakeMprisAdaptor::FakeMprisAdaptor;
    QString playbackStatus() const { return m_player->playbackStatus; }
    QVariantMap metadata() const { return m_player->metadata; }
    double volume() const { return m_player->volume; }
    void setVolume(double volume);
    qlonglong position() const { return m_player->positionUs; }
    double one() const { return 1.0; }
    bool yes() const { return true; }
public slots:
    void Play() { m_player->transport(QStringLiteral("Play"), QStringLiteral("Playing")); }
    void Pause() { m_player->transport(QStringLiteral("Pause"), QStringLiteral("Paused")); }
    void PlayPause();
    void Stop() { m_player->transport(QStringLiteral("Stop"), QStringLiteral("Stopped")); }
    void Next() { m_player->record(QStringLiteral("Next")); }
    void Previous() { m_player->record(QStringLiteral("Previous")); }
    void Seek(qlonglong offset);
    void SetPosition(const QDBusObjectPath& track, qlonglong position);
    void OpenUri(const QString& uri) { m_player->record(QStringLiteral("OpenUri ") + uri); }
signals:
    void Seeked(qlonglong position);
};
