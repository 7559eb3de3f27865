#pragma once

#include "remote/CommandHandler.h"

#include <functional>
#include <memory>

class Clipboard;
class ClipboardCommands;
class InputBackend;
class SystemVolume;
class VolumeCommands;

// "volumestatus", "volumeset", "volumemute": the PC's own output volume. Its changes are
// pushed to the current phone.
class VolumeHandler final : public CommandHandler
{
public:
    // `pushes` is where the pushes go (the current phone); `clock` times their spacing.
    VolumeHandler(CommandContext* pushes, InputBackend* clock);
    ~VolumeHandler() override;

    // Replaces the system's volume control (tests); otherwise it is made on first use.
    void setVolume(std::unique_ptr<SystemVolume> volume);

    QStringList commands() const override;
    void handle(const QString& command, const QJsonObject& params, CommandContext& context) override;

private:
    CommandContext* m_pushes;
    InputBackend* m_clock;
    std::unique_ptr<VolumeCommands> m_commands;
};

// "clipboardset", "clipboardget": the PC's clipboard, only when the phone asks. An answer that
// comes after the desktop replied goes only to the phone that asked.
class ClipboardHandler final : public CommandHandler
{
public:
    explicit ClipboardHandler(InputBackend* clock);
    ~ClipboardHandler() override;

    // Replaces the system's clipboard and the user's read setting (tests); otherwise both are
    // the system's, made on first use.
    void setClipboard(std::unique_ptr<Clipboard> clipboard, std::function<bool()> readAllowed);
    // The clipboard, made now when not yet.
    Clipboard* clipboard();

    QStringList commands() const override;
    void handle(const QString& command, const QJsonObject& params, CommandContext& context) override;

private:
    InputBackend* m_clock;
    std::unique_ptr<ClipboardCommands> m_commands;
};
