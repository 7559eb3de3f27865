#pragma once

#include <QObject>

#include <memory>

class MediaPlayerLink;
class Shell;

// The desktop services the handlers share: the shell that opens files and starts programs, and
// the link to the desktop's media players. Each is the system's own, made on first use, unless
// one was set (tests).
class DesktopLinks : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    ~DesktopLinks() override;

    Shell* shell();
    void setShell(std::unique_ptr<Shell> shell);
    MediaPlayerLink* players();
    void setPlayers(std::unique_ptr<MediaPlayerLink> link);

signals:
    // The controlled player changed (the player link's changed()).
    void playersChanged();

private:
    std::unique_ptr<Shell> m_shell;
    std::unique_ptr<MediaPlayerLink> m_players;
};
