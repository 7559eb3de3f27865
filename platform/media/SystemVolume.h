#pragma once

#include <QObject>

#include <memory>

// The PC's own output volume, as the phone is shown it.
struct SystemVolumeState
{
    bool server = false;    // a sound server answers
    bool available = false; // and it has a default output whose volume we know
    int volume = 0;         // percent of the output's normal volume (may exceed 100)
    bool muted = false;

    bool operator==(const SystemVolumeState& other) const
    {
        return server == other.server && available == other.available && volume == other.volume &&
               muted == other.muted;
    }
    bool operator!=(const SystemVolumeState& other) const { return !(*this == other); }
};

// Volume and mute of the default output of the desktop's sound server. Changes made anywhere
// (the phone, the desktop's own mixer) are announced through changed(); requests are sent
// without waiting for an answer, and their effect comes back through changed() as well.
class SystemVolume : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    virtual SystemVolumeState state() const = 0;
    // `percent` 0 to 100; ignored while nothing is available.
    virtual void setVolume(int percent) = 0;
    virtual void setMuted(bool muted) = 0;

signals:
    void changed();
};

// The implementation for this desktop session (its PulseAudio or PipeWire server).
std::unique_ptr<SystemVolume> createSystemVolume();
