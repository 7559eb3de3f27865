#pragma once

#include "remote/CommandHandler.h"

#include <functional>
#include <memory>

class SessionPower;

// "powerstatus", "power": lock the PC, put it to sleep, restart it, shut it down or log the
// user out, only while the user allows it in the settings. The answer comes once the desktop
// has answered, and only to the phone that asked.
class PowerHandler final : public CommandHandler
{
public:
    // The setting's key in the configuration; "1" allows.
    static constexpr const char* AllowSettingKey = "allowPower";

    PowerHandler();
    ~PowerHandler() override;

    // Replaces the system's services and the user's setting (tests); otherwise both are the
    // system's, made on first use.
    void setPower(std::unique_ptr<SessionPower> power, std::function<bool()> allowed);

    QStringList commands() const override;
    void handle(const QString& command, const QJsonObject& params, CommandContext& context) override;

private:
    std::unique_ptr<SessionPower> m_power;
    std::function<bool()> m_allowed;
};
