#include "platform/media/SystemVolumeFake.h"

void SystemVolumeFake::setVolume(int percent)
{
    m_calls << QStringLiteral("volume %1").arg(percent);
}

void SystemVolumeFake::setMuted(bool muted)
{
    m_calls << (muted ? QStringLiteral("mute on") : QStringLiteral("mute off"));
}

void SystemVolumeFake::setState(const SystemVolumeState& state)
{
    m_state = state;
    emit changed();
}
