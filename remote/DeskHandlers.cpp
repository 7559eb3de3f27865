#include "remote/DeskHandlers.h"

#include "data/ConfigService.h"
#include "platform/clipboard/Clipboard.h"
#include "platform/input/InputBackend.h"
#include "platform/media/SystemVolume.h"
#include "remote/ClipboardCommands.h"
#include "remote/VolumeCommands.h"

#include <QJsonObject>

VolumeHandler::VolumeHandler(CommandContext* pushes, InputBackend* clock)
    : m_pushes(pushes)
    , m_clock(clock)
{
}

VolumeHandler::~VolumeHandler() = default;

void VolumeHandler::setVolume(std::unique_ptr<SystemVolume> volume)
{
    CommandContext* pushes = m_pushes;
    InputBackend* clock = m_clock;
    m_commands = std::make_unique<VolumeCommands>(
        std::move(volume),
        [pushes](const QString& command, const QJsonObject& body) {
            if (pushes->hasPhone())
                pushes->reply(command, body);
        },
        [clock] { return clock->monotonicMs(); });
}

QStringList VolumeHandler::commands() const
{
    return {QStringLiteral("volumestatus"), QStringLiteral("volumeset"), QStringLiteral("volumemute")};
}

void VolumeHandler::handle(const QString& command, const QJsonObject& params, CommandContext& /*context*/)
{
    if (!m_commands)
        setVolume(createSystemVolume());
    m_commands->handle(command, params);
}

ClipboardHandler::ClipboardHandler(InputBackend* clock)
    : m_clock(clock)
{
}

ClipboardHandler::~ClipboardHandler() = default;

void ClipboardHandler::setClipboard(std::unique_ptr<Clipboard> clipboard, std::function<bool()> readAllowed)
{
    InputBackend* clock = m_clock;
    m_commands = std::make_unique<ClipboardCommands>(std::move(clipboard), std::move(readAllowed),
                                                     [clock] { return clock->wallClockMs(); });
}

Clipboard* ClipboardHandler::clipboard()
{
    if (!m_commands) {
        setClipboard(createClipboard(), [] {
            return ConfigService::instance()->value(QLatin1String(ClipboardCommands::ReadSettingKey),
                                                    QString()) == QLatin1String("1");
        });
    }
    return m_commands->clipboard();
}

QStringList ClipboardHandler::commands() const
{
    return {QStringLiteral("clipboardset"), QStringLiteral("clipboardget")};
}

void ClipboardHandler::handle(const QString& command, const QJsonObject& params, CommandContext& context)
{
    clipboard(); // made on first use
    m_commands->handle(command, params, context.sender(), context.laterReply());
}
