#include "remote/PlayerHandler.h"

#include "platform/input/InputBackend.h"
#include "platform/media/MediaPlayerLink.h"
#include "remote/DesktopLinks.h"

#include <QDebug>
#include <QJsonObject>
#include <QTimer>

PlayerHandler::PlayerHandler(DesktopLinks* links, CommandContext* pushes, InputBackend* clock)
    : m_links(links)
    , m_pushes(pushes)
    , m_clock(clock)
{
    connect(m_links, &DesktopLinks::playersChanged, this, &PlayerHandler::onPlayersChanged);
}

QStringList PlayerHandler::commands() const
{
    return {QStringLiteral("mediastatus"), QStringLiteral("mediacontrol")};
}

void PlayerHandler::handle(const QString& command, const QJsonObject& params, CommandContext& context)
{
    if (command == QLatin1String("mediastatus"))
        mediaStatus(context);
    else if (command == QLatin1String("mediacontrol"))
        mediaControl(params);
}

void PlayerHandler::mediaStatus(CommandContext& context)
{
    const MediaPlayerStatus status = m_links->players()->status();
    context.reply(QStringLiteral("mediastatus"), mediaStatusBody(status, m_mediaArt.dataUrl(status.artUrl)));
}

void PlayerHandler::mediaControl(const QJsonObject& params)
{
    QString error;
    const auto request = parseMediaControl(params, &error);
    if (!request) {
        qWarning().noquote() << "mediacontrol: invalid request ignored:" << error;
        return;
    }
    if (!m_links->players()->control(request->action, request->value))
        qDebug() << "mediacontrol: no media player is running";
}

void PlayerHandler::onPlayersChanged()
{
    if (!m_pushes->hasPhone() || m_pushTimer != nullptr)
        return; // nobody to tell, or a push is already on its way with the latest state
    const qint64 wait = m_throttle.delay(m_clock->monotonicMs());
    if (wait == 0) {
        pushMediaStatus();
        return;
    }
    m_pushTimer = new QTimer(this);
    m_pushTimer->setSingleShot(true);
    connect(m_pushTimer, &QTimer::timeout, this, [this] {
        m_pushTimer->deleteLater();
        m_pushTimer = nullptr;
        if (m_pushes->hasPhone())
            pushMediaStatus();
    });
    m_pushTimer->start(int(wait));
}

void PlayerHandler::pushMediaStatus()
{
    m_throttle.sent(m_clock->monotonicMs());
    mediaStatus(*m_pushes);
}
