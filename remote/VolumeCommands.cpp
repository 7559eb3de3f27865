#include "remote/VolumeCommands.h"

#include "platform/media/SystemVolume.h"

#include <QDebug>
#include <QTimer>

#include <cmath>

VolumeCommands::VolumeCommands(std::unique_ptr<SystemVolume> volume, Reply reply, Clock nowMs,
                               QObject* parent)
    : QObject(parent)
    , m_volume(std::move(volume))
    , m_reply(std::move(reply))
    , m_nowMs(std::move(nowMs))
    , m_pushTimer(new QTimer(this))
{
    m_pushTimer->setSingleShot(true);
    connect(m_pushTimer, &QTimer::timeout, this, &VolumeCommands::push);
    connect(m_volume.get(), &SystemVolume::changed, this, &VolumeCommands::onChanged);
}

VolumeCommands::~VolumeCommands()
{
    m_volume->disconnect(this);
}

bool VolumeCommands::isVolumeCommand(const QString& command)
{
    return command == QLatin1String("volumestatus") || command == QLatin1String("volumeset") ||
           command == QLatin1String("volumemute");
}

bool VolumeCommands::handle(const QString& command, const QJsonObject& params)
{
    if (command == QLatin1String("volumestatus")) {
        m_reply(QStringLiteral("volumestatus"), statusBody(m_volume->state()));
    } else if (command == QLatin1String("volumeset")) {
        // Strict: a fraction, a string or a value out of range is a faulty phone, not a guess.
        const double value = params.value(QLatin1String("volume")).toDouble(-1);
        if (value < 0 || value > 100 || std::floor(value) != value) {
            qWarning()
                << "volumeset: invalid request ignored: \"volume\" must be a whole number from 0 to 100";
            return true;
        }
        m_volume->setVolume(int(value));
    } else if (command == QLatin1String("volumemute")) {
        const QJsonValue muted = params.value(QLatin1String("muted"));
        if (!muted.isBool()) {
            qWarning() << "volumemute: invalid request ignored: \"muted\" must be true or false";
            return true;
        }
        m_volume->setMuted(muted.toBool());
    } else {
        return false;
    }
    return true;
}

QJsonObject VolumeCommands::statusBody(const SystemVolumeState& state)
{
    QJsonObject body{{QStringLiteral("server"), state.server},
                     {QStringLiteral("available"), state.available}};
    if (state.available) {
        body.insert(QStringLiteral("volume"), state.volume);
        body.insert(QStringLiteral("muted"), state.muted);
    }
    return body;
}

void VolumeCommands::onChanged()
{
    if (m_pushTimer->isActive())
        return; // the push on its way will carry the latest state
    const qint64 wait = m_throttle.delay(m_nowMs());
    if (wait == 0)
        push();
    else
        m_pushTimer->start(int(wait));
}

void VolumeCommands::push()
{
    m_throttle.sent(m_nowMs());
    m_reply(QStringLiteral("volumestatus"), statusBody(m_volume->state()));
}
