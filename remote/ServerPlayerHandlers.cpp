#include "remote/Server.h"

#include "platform/InputBackend.h"
#include "platform/MediaPlayerLink.h"
#include "remote/InputSimulator.h"

#include <QDebug>
#include <QJsonObject>
#include <QTimer>

void Server::setMediaPlayerLink(std::unique_ptr<MediaPlayerLink> link)
{
    if (m_mediaPlayers)
        m_mediaPlayers->disconnect(this);
    m_mediaPlayers = std::move(link);
    if (m_mediaPlayers)
        connect(m_mediaPlayers.get(), &MediaPlayerLink::changed, this, &Server::onMediaPlayerChanged);
}

MediaPlayerLink* Server::mediaPlayerLink()
{
    if (!m_mediaPlayers)
        setMediaPlayerLink(createMediaPlayerLink());
    return m_mediaPlayers.get();
}

void Server::handleMediaStatus()
{
    const MediaPlayerStatus status = mediaPlayerLink()->status();
    sendReply(QStringLiteral("mediastatus"), mediaStatusBody(status, m_mediaArt.dataUrl(status.artUrl)));
}

void Server::handleMediaControl(const QJsonObject& params)
{
    QString error;
    const auto request = parseMediaControl(params, &error);
    if (!request) {
        qWarning().noquote() << "mediacontrol: invalid request ignored:" << error;
        return;
    }
    if (!mediaPlayerLink()->control(request->action, request->value))
        qDebug() << "mediacontrol: no media player is running";
}

void Server::onMediaPlayerChanged()
{
    if (!hasPhone() || m_mediaStatusTimer != nullptr)
        return; // nobody to tell, or a push is already on its way with the latest state
    const qint64 wait = m_mediaStatusThrottle.delay(m_inputSimulator->backend()->monotonicMs());
    if (wait == 0) {
        pushMediaStatus();
        return;
    }
    m_mediaStatusTimer = new QTimer(this);
    m_mediaStatusTimer->setSingleShot(true);
    connect(m_mediaStatusTimer, &QTimer::timeout, this, [this] {
        m_mediaStatusTimer->deleteLater();
        m_mediaStatusTimer = nullptr;
        if (hasPhone())
            pushMediaStatus();
    });
    m_mediaStatusTimer->start(int(wait));
}

void Server::pushMediaStatus()
{
    m_mediaStatusThrottle.sent(m_inputSimulator->backend()->monotonicMs());
    handleMediaStatus();
}
