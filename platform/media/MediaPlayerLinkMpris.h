#pragma once

#include "platform/media/MediaPlayerLink.h"

#include <QDBusConnection>
#include <QVariantMap>

#include <functional>
#include <map>

class QDBusMessage;

// The players that publish the MPRIS 2 interface on a D-Bus bus. Each player's properties
// are read once when it appears and then kept current from its PropertiesChanged and Seeked
// signals; nothing is polled. Every call to a player is asynchronous, so a player that hangs
// cannot hold up the caller.
class MediaPlayerLinkMpris final : public MediaPlayerLink
{
    Q_OBJECT
public:
    // Follows the players on `bus`; on a bus that is not connected there are none.
    // Milliseconds on a clock that never jumps.
    using Clock = std::function<qint64()>;

    explicit MediaPlayerLinkMpris(const QDBusConnection& bus, QObject* parent = nullptr);
    // With a clock of the caller's (tests); an empty one is the system's monotonic clock.
    MediaPlayerLinkMpris(const QDBusConnection& bus, Clock clock, QObject* parent = nullptr);
    ~MediaPlayerLinkMpris() override;

    MediaPlayerStatus status() const override;
    void noteLaunch() override;
    bool control(Action action, double value) override;

    // The bus name of the controlled player; empty when none runs.
    QString currentPlayer() const { return m_current; }
    // A player that appears this long after a launch at most counts as the one launched.
    static constexpr int LaunchWindowMs = 30000;

private slots:
    void onNameOwnerChanged(const QString& name, const QString& oldOwner, const QString& newOwner);
    void onPropertiesChanged(const QDBusMessage& message);
    void onSeeked(const QDBusMessage& message);

private:
    struct Player
    {
        QString owner; // the unique bus name, which the player's signals come from
        QString identity;
        QVariantMap metadata;
        QString playbackStatus;
        double volume = -1;
        double rate = 1;
        qint64 positionUs = -1;
        qint64 positionAtMs = 0; // when positionUs was true, on m_clock
        quint64 seen = 0;        // order of appearing or last starting to play
        quint64 launched = 0;    // order of the launch it answered; 0 when none
        bool ready = false;      // its properties have been read
    };

    void addPlayer(const QString& name, const QString& owner);
    void removePlayer(const QString& name);
    Player* playerByOwner(const QString& owner, QString* name = nullptr);
    void applyProperties(const QString& name, const QVariantMap& properties);
    void refreshPosition(const QString& name);
    // Chooses the controlled player again; announces a change of player or of `touched`.
    void reselect(const QString& touched = QString());
    void call(const QString& name, const QString& interface, const QString& method,
              const QVariantList& arguments, std::function<void(const QVariantList&)> onReply = nullptr);

    QDBusConnection m_bus;
    std::map<QString, Player> m_players; // by well-known name
    QString m_current;
    Clock m_clock;
    qint64 m_launchAtMs = -1;
    quint64 m_sequence = 0;
};
