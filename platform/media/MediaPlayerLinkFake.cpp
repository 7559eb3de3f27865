#include "platform/media/MediaPlayerLinkFake.h"

bool MediaPlayerLinkFake::control(Action action, double value)
{
    static const char* const names[] = {"Play",     "Pause", "PlayPause", "Next",
                                        "Previous", "Seek",  "Position",  "Volume"};
    QString call = QString::fromLatin1(names[static_cast<int>(action)]);
    if (action == Action::Seek || action == Action::Position || action == Action::Volume)
        call += QLatin1Char(' ') + QString::number(value);
    if (m_recording)
        m_calls << call;
    return m_status.running;
}

void MediaPlayerLinkFake::noteLaunch()
{
    if (m_recording)
        m_calls << QStringLiteral("launch");
}

void MediaPlayerLinkFake::setStatus(const MediaPlayerStatus& status)
{
    m_status = status;
    emit changed();
}
