#pragma once

#include "remote/CommandHandler.h"
#include "remote/MediaStatus.h"

#include <QObject>

class DesktopLinks;
class InputBackend;
class QTimer;

// The desktop's media players: "mediastatus" (answered with the controlled player's state) and
// "mediacontrol". A change of the player is pushed to the phone as a "mediastatus" unasked,
// at most once per MediaStatusIntervalMs.
class PlayerHandler : public QObject, public CommandHandler
{
    Q_OBJECT
public:
    // The shortest time between two "mediastatus" messages pushed to the phone.
    static constexpr int MediaStatusIntervalMs = 250;

    // `pushes` is where the pushes go (the current phone); `clock` times the throttle.
    PlayerHandler(DesktopLinks* links, CommandContext* pushes, InputBackend* clock);

    QStringList commands() const override;
    void handle(const QString& command, const QJsonObject& params, CommandContext& context) override;

private:
    void mediaStatus(CommandContext& context);
    void mediaControl(const QJsonObject& params);
    // The controlled player changed: the phone hears of it, spaced by the throttle.
    void onPlayersChanged();
    void pushMediaStatus();

    DesktopLinks* m_links;
    CommandContext* m_pushes;
    InputBackend* m_clock;
    MediaArt m_mediaArt;
    PushThrottle m_throttle{MediaStatusIntervalMs};
    QTimer* m_pushTimer = nullptr; // a push waiting for the throttle
};
