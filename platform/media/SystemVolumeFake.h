#pragma once

#include "platform/media/SystemVolume.h"

#include <QStringList>

// An output whose state the test sets; records requests as text ("volume 40", "mute on").
class SystemVolumeFake final : public SystemVolume
{
    Q_OBJECT
public:
    using SystemVolume::SystemVolume;

    SystemVolumeState state() const override { return m_state; }
    void setVolume(int percent) override;
    void setMuted(bool muted) override;

    // Sets what state() answers and announces it.
    void setState(const SystemVolumeState& state);
    const QStringList& calls() const { return m_calls; }

private:
    SystemVolumeState m_state;
    QStringList m_calls;
};
