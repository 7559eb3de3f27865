#include "platform/media/MediaPlayerLinkMpris.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <tuple>

namespace {

const QString kPrefix = QStringLiteral("org.mpris.MediaPlayer2.");
const QString kPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kRoot = QStringLiteral("org.mpris.MediaPlayer2");
const QString kPlayer = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kBusService = QStringLiteral("org.freedesktop.DBus");
const QString kBusPath = QStringLiteral("/org/freedesktop/DBus");
// The track id of "no track", which a position cannot be set on.
constexpr char kNoTrack[] = "/org/mpris/MediaPlayer2/TrackList/NoTrack";
// A player that has not answered by then is taken as busy; nothing waits for it meanwhile.
constexpr int kCallTimeoutMs = 5000;

// Values inside variants arrive still marshalled where Qt does not know their type.
QVariant plain(const QVariant& value)
{
    if (value.userType() == qMetaTypeId<QDBusVariant>())
        return plain(value.value<QDBusVariant>().variant());
    if (value.userType() != qMetaTypeId<QDBusArgument>())
        return value;
    const auto argument = value.value<QDBusArgument>();
    switch (argument.currentType()) {
    case QDBusArgument::MapType: {
        QVariantMap map;
        argument >> map;
        for (auto it = map.begin(); it != map.end(); ++it)
            it.value() = plain(it.value());
        return map;
    }
    case QDBusArgument::ArrayType: {
        QVariantList list;
        argument.beginArray();
        while (!argument.atEnd())
            list << plain(argument.asVariant());
        argument.endArray();
        return list;
    }
    default:
        return QVariant();
    }
}

QString joined(const QVariant& value)
{
    if (value.canConvert<QStringList>())
        return value.toStringList().join(QStringLiteral(", "));
    return value.toString();
}

// Finite and within what a signed 64-bit count of microseconds holds.
qint64 toMicroseconds(double seconds)
{
    const double us = std::round(seconds * 1e6);
    if (!std::isfinite(us))
        return 0;
    return static_cast<qint64>(std::clamp(us, -9.0e18, 9.0e18));
}

} // namespace

MediaPlayerLinkMpris::MediaPlayerLinkMpris(const QDBusConnection& bus, QObject* parent)
    : MediaPlayerLinkMpris(bus, Clock(), parent)
{
}

MediaPlayerLinkMpris::MediaPlayerLinkMpris(const QDBusConnection& bus, Clock clock, QObject* parent)
    : MediaPlayerLink(parent)
    , m_bus(bus)
    , m_clock(std::move(clock))
{
    if (!m_clock) {
        auto timer = std::make_shared<QElapsedTimer>();
        timer->start();
        m_clock = [timer] {
            return timer->elapsed();
        };
    }
    if (!m_bus.isConnected())
        return;
    m_bus.connect(kBusService, kBusPath, kBusService, QStringLiteral("NameOwnerChanged"), this,
                  SLOT(onNameOwnerChanged(QString, QString, QString)));
    // From any sender: the message names it, and only known players are listened to.
    m_bus.connect(QString(), kPath, kProperties, QStringLiteral("PropertiesChanged"), this,
                  SLOT(onPropertiesChanged(QDBusMessage)));
    m_bus.connect(QString(), kPath, kPlayer, QStringLiteral("Seeked"), this, SLOT(onSeeked(QDBusMessage)));

    QDBusMessage list =
        QDBusMessage::createMethodCall(kBusService, kBusPath, kBusService, QStringLiteral("ListNames"));
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(list, kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        const QDBusMessage reply = w->reply();
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
            return;
        for (const QString& name : reply.arguments().constFirst().toStringList()) {
            if (!name.startsWith(kPrefix))
                continue;
            QDBusMessage owner = QDBusMessage::createMethodCall(kBusService, kBusPath, kBusService,
                                                                QStringLiteral("GetNameOwner"));
            owner << name;
            auto* ownerWatcher = new QDBusPendingCallWatcher(m_bus.asyncCall(owner, kCallTimeoutMs), this);
            connect(ownerWatcher, &QDBusPendingCallWatcher::finished, this,
                    [this, name](QDBusPendingCallWatcher* o) {
                        o->deleteLater();
                        const QDBusMessage answer = o->reply();
                        if (answer.type() == QDBusMessage::ReplyMessage && !answer.arguments().isEmpty() &&
                            m_players.count(name) == 0)
                            addPlayer(name, answer.arguments().constFirst().toString());
                    });
        }
    });
}

MediaPlayerLinkMpris::~MediaPlayerLinkMpris() = default;

void MediaPlayerLinkMpris::noteLaunch()
{
    m_launchAtMs = m_clock();
}

void MediaPlayerLinkMpris::onNameOwnerChanged(const QString& name, const QString& oldOwner,
                                              const QString& newOwner)
{
    if (!name.startsWith(kPrefix))
        return;
    if (!oldOwner.isEmpty())
        removePlayer(name);
    if (newOwner.isEmpty())
        return;
    addPlayer(name, newOwner);
    if (m_launchAtMs >= 0 && m_clock() - m_launchAtMs <= LaunchWindowMs) {
        // One launch starts one player.
        m_players[name].launched = ++m_sequence;
        m_launchAtMs = -1;
    }
}

void MediaPlayerLinkMpris::addPlayer(const QString& name, const QString& owner)
{
    Player& player = m_players[name];
    player = Player();
    player.owner = owner;
    player.seen = ++m_sequence;
    qDebug().noquote() << "Media player found:" << name;
    // The name first: its answer comes back first, so the player is shown by its name at once.
    call(name, kProperties, QStringLiteral("Get"), {kRoot, QStringLiteral("Identity")},
         [this, name](const QVariantList& reply) {
             auto it = m_players.find(name);
             if (it == m_players.end())
                 return;
             it->second.identity = plain(reply.value(0)).toString();
             reselect(name);
         });
    call(name, kProperties, QStringLiteral("GetAll"), {kPlayer}, [this, name](const QVariantList& reply) {
        applyProperties(name, plain(reply.value(0)).toMap());
        auto it = m_players.find(name);
        if (it == m_players.end())
            return;
        it->second.ready = true;
        reselect(name);
    });
}

void MediaPlayerLinkMpris::removePlayer(const QString& name)
{
    if (m_players.erase(name) == 0)
        return;
    qDebug().noquote() << "Media player gone:" << name;
    reselect();
}

MediaPlayerLinkMpris::Player* MediaPlayerLinkMpris::playerByOwner(const QString& owner, QString* name)
{
    for (auto& [key, player] : m_players) {
        if (player.owner == owner) {
            if (name != nullptr)
                *name = key;
            return &player;
        }
    }
    return nullptr;
}

void MediaPlayerLinkMpris::applyProperties(const QString& name, const QVariantMap& properties)
{
    auto it = m_players.find(name);
    if (it == m_players.end())
        return;
    Player& player = it->second;
    bool positionMoved = false;
    if (properties.contains(QStringLiteral("Metadata"))) {
        const QVariantMap metadata = properties.value(QStringLiteral("Metadata")).toMap();
        const auto trackId = [](const QVariantMap& m) {
            const QVariant id = m.value(QStringLiteral("mpris:trackid"));
            return id.canConvert<QDBusObjectPath>() ? id.value<QDBusObjectPath>().path() : id.toString();
        };
        positionMoved = trackId(metadata) != trackId(player.metadata);
        player.metadata = metadata;
    }
    if (properties.contains(QStringLiteral("PlaybackStatus"))) {
        const QString status = properties.value(QStringLiteral("PlaybackStatus")).toString();
        if (status == QLatin1String("Playing") && player.playbackStatus != status)
            player.seen = ++m_sequence;
        // The carried-forward position would drift once the player stops moving.
        positionMoved = positionMoved || status != player.playbackStatus;
        player.playbackStatus = status;
    }
    if (properties.contains(QStringLiteral("Volume")))
        player.volume = properties.value(QStringLiteral("Volume")).toDouble();
    if (properties.contains(QStringLiteral("Rate"))) {
        player.rate = properties.value(QStringLiteral("Rate")).toDouble();
        positionMoved = true;
    }
    if (properties.contains(QStringLiteral("Position"))) {
        player.positionUs = properties.value(QStringLiteral("Position")).toLongLong();
        player.positionAtMs = m_clock();
    } else if (positionMoved && player.ready) {
        refreshPosition(name);
    }
}

void MediaPlayerLinkMpris::refreshPosition(const QString& name)
{
    call(name, kProperties, QStringLiteral("Get"), {kPlayer, QStringLiteral("Position")},
         [this, name](const QVariantList& reply) {
             auto it = m_players.find(name);
             if (it == m_players.end())
                 return;
             it->second.positionUs = plain(reply.value(0)).toLongLong();
             it->second.positionAtMs = m_clock();
             reselect(name);
         });
}

void MediaPlayerLinkMpris::onPropertiesChanged(const QDBusMessage& message)
{
    QString name;
    if (playerByOwner(message.service(), &name) == nullptr || message.arguments().size() < 2)
        return;
    if (message.arguments().at(0).toString() != kPlayer)
        return;
    applyProperties(name, plain(message.arguments().at(1)).toMap());
    // Properties only named as changed are read again.
    const QStringList invalidated = message.arguments().value(2).toStringList();
    if (!invalidated.isEmpty()) {
        call(name, kProperties, QStringLiteral("GetAll"), {kPlayer}, [this, name](const QVariantList& reply) {
            applyProperties(name, plain(reply.value(0)).toMap());
            reselect(name);
        });
    }
    reselect(name);
}

void MediaPlayerLinkMpris::onSeeked(const QDBusMessage& message)
{
    QString name;
    Player* player = playerByOwner(message.service(), &name);
    if (player == nullptr || message.arguments().isEmpty())
        return;
    player->positionUs = message.arguments().constFirst().toLongLong();
    player->positionAtMs = m_clock();
    reselect(name);
}

void MediaPlayerLinkMpris::reselect(const QString& touched)
{
    // The launched player first (the latest launch), then a playing one (the latest to start),
    // then the latest to appear.
    QString best;
    std::tuple<int, quint64> bestRank{-1, 0};
    for (const auto& [name, player] : m_players) {
        if (!player.ready)
            continue;
        const std::tuple<int, quint64> rank =
            player.launched > 0
                ? std::make_tuple(2, player.launched)
                : std::make_tuple(player.playbackStatus == QLatin1String("Playing") ? 1 : 0, player.seen);
        if (rank > bestRank) {
            bestRank = rank;
            best = name;
        }
    }
    if (best != m_current) {
        m_current = best;
        if (!best.isEmpty())
            qDebug().noquote() << "Media player controlled:" << best;
        emit changed();
    } else if (!touched.isEmpty() && touched == m_current) {
        emit changed();
    }
}

MediaPlayerStatus MediaPlayerLinkMpris::status() const
{
    MediaPlayerStatus status;
    const auto it = m_players.find(m_current);
    if (it == m_players.end())
        return status;
    const Player& player = it->second;
    const QVariantMap& m = player.metadata;
    status.running = true;
    status.player = player.identity.isEmpty() ? it->first.mid(kPrefix.size()) : player.identity;
    status.title = m.value(QStringLiteral("xesam:title")).toString();
    status.artist = joined(m.value(QStringLiteral("xesam:artist")));
    status.album = m.value(QStringLiteral("xesam:album")).toString();
    const qint64 lengthUs = m.value(QStringLiteral("mpris:length")).toLongLong();
    status.length = lengthUs > 0 ? lengthUs / 1e6 : -1;
    status.playbackStatus = player.playbackStatus;
    status.volume = player.volume;
    status.artUrl = m.value(QStringLiteral("mpris:artUrl")).toString();
    if (player.positionUs >= 0) {
        double seconds = player.positionUs / 1e6;
        if (player.playbackStatus == QLatin1String("Playing") && std::isfinite(player.rate))
            seconds += (m_clock() - player.positionAtMs) / 1000.0 * player.rate;
        seconds = std::max(seconds, 0.0);
        if (status.length > 0)
            seconds = std::min(seconds, status.length);
        status.position = seconds;
    }
    return status;
}

bool MediaPlayerLinkMpris::control(Action action, double value)
{
    const auto it = m_players.find(m_current);
    if (it == m_players.end())
        return false;
    const QString& name = it->first;
    switch (action) {
    case Action::Play:
    case Action::Pause:
    case Action::PlayPause:
    case Action::Next:
    case Action::Previous: {
        // The methods without arguments, in the order of the actions.
        static const char* const methods[] = {"Play", "Pause", "PlayPause", "Next", "Previous"};
        call(name, kPlayer, QString::fromLatin1(methods[static_cast<int>(action)]), {});
        break;
    }
    case Action::Seek:
        call(name, kPlayer, QStringLiteral("Seek"), {QVariant::fromValue(toMicroseconds(value))});
        break;
    case Action::Position: {
        // Setting the position names the track, so that a track change in between is not
        // moved by mistake; without a track id a relative seek has to do.
        const QVariant id = it->second.metadata.value(QStringLiteral("mpris:trackid"));
        const QString track =
            id.canConvert<QDBusObjectPath>() ? id.value<QDBusObjectPath>().path() : id.toString();
        const bool named = track.startsWith(QLatin1Char('/')) && track != QLatin1String(kNoTrack);
        if (named && QDBusObjectPath(track).path() == track) {
            call(name, kPlayer, QStringLiteral("SetPosition"),
                 {QVariant::fromValue(QDBusObjectPath(track)), QVariant::fromValue(toMicroseconds(value))});
        } else {
            const double now = std::max(status().position, 0.0);
            call(name, kPlayer, QStringLiteral("Seek"), {QVariant::fromValue(toMicroseconds(value - now))});
        }
        break;
    }
    case Action::Volume:
        call(name, kProperties, QStringLiteral("Set"),
             {kPlayer, QStringLiteral("Volume"), QVariant::fromValue(QDBusVariant(value))});
        break;
    }
    return true;
}

void MediaPlayerLinkMpris::call(const QString& name, const QString& interface, const QString& method,
                                const QVariantList& arguments,
                                std::function<void(const QVariantList&)> onReply)
{
    const auto it = m_players.find(name);
    if (it == m_players.end())
        return;
    // Addressed to the owner seen, so that a successor under the same name gets nothing meant
    // for its predecessor.
    QDBusMessage message = QDBusMessage::createMethodCall(it->second.owner, kPath, interface, method);
    message.setArguments(arguments);
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(message, kCallTimeoutMs), this);
    const QString owner = it->second.owner;
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, name, owner, method, onReply](QDBusPendingCallWatcher* w) {
                w->deleteLater();
                const QDBusMessage reply = w->reply();
                if (reply.type() != QDBusMessage::ReplyMessage) {
                    qDebug().noquote()
                        << "Media player" << name << "refused" << method << "-" << reply.errorMessage();
                    return;
                }
                const auto current = m_players.find(name);
                if (onReply && current != m_players.end() && current->second.owner == owner)
                    onReply(reply.arguments());
            });
}

std::unique_ptr<MediaPlayerLink> createMediaPlayerLink()
{
    // Without a session bus there are no players to control; asking libdbus for one anyway
    // could make it start a bus of its own.
    const QString runtimeBus = qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/bus");
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") &&
        (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") || !QFileInfo::exists(runtimeBus)))
        return std::make_unique<MediaPlayerLinkMpris>(QDBusConnection(QStringLiteral("velmora-no-bus")));
    return std::make_unique<MediaPlayerLinkMpris>(QDBusConnection::sessionBus());
}
