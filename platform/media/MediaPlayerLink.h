#pragma once

#include <QObject>
#include <QString>

#include <memory>

// What the phone is shown of the player it controls.
struct MediaPlayerStatus
{
    bool running = false; // false: no player runs, and the rest is empty
    QString player;       // the name the player gives itself ("mpv", "VLC media player")
    QString title;
    QString artist; // several artists joined with ", "
    QString album;
    double length = -1;     // seconds; negative when the player does not say
    double position = -1;   // seconds from the start; negative when unknown
    QString playbackStatus; // "Playing", "Paused" or "Stopped"
    double volume = -1;     // 0 to 1 (players may go above); negative when unknown
    QString artUrl;
};

// The media players of the desktop session and the one among them the phone controls: the one
// Velmora started last, else one that is playing, else the one seen last. Changes are followed
// as the players announce them, so status() is cheap and changed() says when to look again.
class MediaPlayerLink : public QObject
{
    Q_OBJECT
public:
    enum class Action
    {
        Play,
        Pause,
        PlayPause,
        Next,
        Previous,
        Seek,     // value: seconds to move, negative backwards
        Position, // value: seconds from the start
        Volume,   // value: 0 to 1
    };

    using QObject::QObject;

    // The controlled player now; the position is carried forward while it plays.
    virtual MediaPlayerStatus status() const = 0;
    // A media file has just been handed to the desktop: a player that turns up soon after is
    // the one the phone started.
    virtual void noteLaunch() = 0;
    // Asks the controlled player to act; false when no player runs. The player answers in its
    // own time, through changed().
    virtual bool control(Action action, double value) = 0;

signals:
    // Another player is now the controlled one, or the controlled one changed.
    void changed();
};

// The implementation for this desktop session (the session bus where there is one).
std::unique_ptr<MediaPlayerLink> createMediaPlayerLink();
