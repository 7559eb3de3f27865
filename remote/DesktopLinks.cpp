#include "remote/DesktopLinks.h"

#include "platform/media/MediaPlayerLink.h"
#include "platform/shell/Shell.h"

DesktopLinks::~DesktopLinks()
{
    // The link's signals must not reach a half-destroyed owner.
    if (m_players)
        m_players->disconnect(this);
}

Shell* DesktopLinks::shell()
{
    if (!m_shell)
        m_shell = createShell();
    return m_shell.get();
}

void DesktopLinks::setShell(std::unique_ptr<Shell> shell)
{
    m_shell = std::move(shell);
}

MediaPlayerLink* DesktopLinks::players()
{
    if (!m_players)
        setPlayers(createMediaPlayerLink());
    return m_players.get();
}

void DesktopLinks::setPlayers(std::unique_ptr<MediaPlayerLink> link)
{
    if (m_players)
        m_players->disconnect(this);
    m_players = std::move(link);
    if (m_players)
        connect(m_players.get(), &MediaPlayerLink::changed, this, &DesktopLinks::playersChanged);
}
