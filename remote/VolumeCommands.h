#pragma once

#include "remote/MediaStatus.h"

#include <QJsonObject>
#include <QObject>

#include <functional>
#include <memory>

class SystemVolume;
struct SystemVolumeState;
class QTimer;

// The phone's commands for the PC's own output volume:
//   "volumestatus" {}                  answered with "volumestatus" (see statusBody)
//   "volumeset"    {"volume": 0..100}  a whole number of percent
//   "volumemute"   {"muted": bool}
// Changes, whoever makes them, are pushed to the phone as "volumestatus", at most one per
// PushIntervalMs, the last one always. Bad values are logged and ignored.
class VolumeCommands final : public QObject
{
    Q_OBJECT
public:
    using Reply = std::function<void(const QString& command, const QJsonObject& params)>;
    using Clock = std::function<qint64()>;

    // `reply` takes answers and pushes; `nowMs` is a monotonic clock in milliseconds.
    VolumeCommands(std::unique_ptr<SystemVolume> volume, Reply reply, Clock nowMs, QObject* parent = nullptr);
    ~VolumeCommands() override;

    // Runs `command` if it is one of ours; false otherwise.
    bool handle(const QString& command, const QJsonObject& params);
    static bool isVolumeCommand(const QString& command);

    // {"server": bool, "available": bool, "volume": percent, "muted": bool}; without a sound
    // server or output only the first two.
    static QJsonObject statusBody(const SystemVolumeState& state);

    static constexpr int PushIntervalMs = 250;

private:
    void onChanged();
    void push();

    std::unique_ptr<SystemVolume> m_volume;
    Reply m_reply;
    Clock m_nowMs;
    PushThrottle m_throttle{PushIntervalMs};
    QTimer* m_pushTimer = nullptr;
};
