#include "remote/Server.h"

#include "data/ConfigService.h"
#include "platform/Clipboard.h"
#include "platform/InputBackend.h"
#include "platform/SystemVolume.h"
#include "remote/ClipboardCommands.h"
#include "remote/InputSimulator.h"
#include "remote/VolumeCommands.h"

#include <QPointer>

void Server::setSystemVolume(std::unique_ptr<SystemVolume> volume)
{
    InputBackend* clock = m_inputSimulator->backend();
    m_volume = std::make_unique<VolumeCommands>(
        std::move(volume),
        [this](const QString& command, const QJsonObject& body) {
            if (hasPhone())
                sendReply(command, body);
        },
        [clock] { return clock->monotonicMs(); });
}

VolumeCommands* Server::volumeCommands()
{
    if (!m_volume)
        setSystemVolume(createSystemVolume());
    return m_volume.get();
}

void Server::setClipboard(std::unique_ptr<Clipboard> clipboard, std::function<bool()> readAllowed)
{
    InputBackend* clock = m_inputSimulator->backend();
    m_clipboard = std::make_unique<ClipboardCommands>(std::move(clipboard), std::move(readAllowed),
                                                      [clock] { return clock->wallClockMs(); });
}

void Server::handleClipboard(const QString& command, const QJsonObject& params)
{
    if (!m_clipboard) {
        setClipboard(createClipboard(), [] {
            return ConfigService::instance()->value(QLatin1String(ClipboardCommands::ReadSettingKey),
                                                    QString()) == QLatin1String("1");
        });
    }
    // The answer goes only to the phone that asked, even if it comes after another took over.
    const QPointer<QObject> asker = currentPhone();
    const bool toSender = m_replyToSender;
    m_clipboard->handle(command, params, asker.data(),
                        [this, asker, toSender](const QString& reply, const QJsonObject& body) {
                            if (toSender && !asker.isNull() && asker == currentPhone())
                                sendReply(reply, body);
                        });
}
