#include "remote/PowerHandler.h"

#include "data/ConfigService.h"
#include "platform/session/SessionPower.h"

#include <QDebug>
#include <QJsonObject>

namespace {

struct Named
{
    const char* name;
    SessionPower::Action action;
};

const Named Actions[] = {
    {"lock", SessionPower::Action::Lock},     {"suspend", SessionPower::Action::Suspend},
    {"reboot", SessionPower::Action::Reboot}, {"poweroff", SessionPower::Action::PowerOff},
    {"logout", SessionPower::Action::Logout},
};

QJsonObject refusal(const QString& action, const char* error, const char* message)
{
    return QJsonObject{{QStringLiteral("ok"), false},
                       {QStringLiteral("action"), action},
                       {QStringLiteral("error"), QLatin1String(error)},
                       {QStringLiteral("message"), QLatin1String(message)}};
}

} // namespace

PowerHandler::PowerHandler() = default;
PowerHandler::~PowerHandler() = default;

void PowerHandler::setPower(std::unique_ptr<SessionPower> power, std::function<bool()> allowed)
{
    m_power = std::move(power);
    m_allowed = std::move(allowed);
}

QStringList PowerHandler::commands() const
{
    return {QStringLiteral("powerstatus"), QStringLiteral("power")};
}

void PowerHandler::handle(const QString& command, const QJsonObject& params, CommandContext& context)
{
    if (!m_power) {
        setPower(createSessionPower(), [] {
            return ConfigService::instance()->value(QLatin1String(AllowSettingKey), QString()) ==
                   QLatin1String("1");
        });
    }
    const bool allowed = m_allowed();
    if (command == QLatin1String("powerstatus")) {
        context.reply(command, QJsonObject{{QStringLiteral("allowed"), allowed}});
        return;
    }
    const QString name = params.value(QLatin1String("action")).toString();
    const Named* named = nullptr;
    for (const Named& entry : Actions) {
        if (name == QLatin1String(entry.name))
            named = &entry;
    }
    if (!named) {
        qWarning()
            << "power: invalid request ignored: \"action\" takes lock, suspend, reboot, poweroff or logout";
        context.reply(command, refusal(name.left(16), "badRequest",
                                       "\"action\" must be lock, suspend, reboot, poweroff or logout."));
        return;
    }
    if (!allowed) {
        qInfo().noquote() << "power:" << name << "refused, the setting is off";
        context.reply(command,
                      refusal(name, "off",
                              "Locking, sleeping and shutting down from the phone are switched off in "
                              "Velmora's settings on the PC."));
        return;
    }
    qInfo().noquote() << "power:" << name << "asked of the desktop";
    context.logActivity(QStringLiteral("power: ") + name);
    const CommandContext::Reply reply = context.laterReply();
    m_power->request(named->action, [reply, name](SessionPower::Outcome outcome, const QString& detail) {
        switch (outcome) {
        case SessionPower::Outcome::Done:
            qInfo().noquote() << "power:" << name << "done";
            reply(QStringLiteral("power"),
                  QJsonObject{{QStringLiteral("ok"), true}, {QStringLiteral("action"), name}});
            return;
        case SessionPower::Outcome::Refused:
            qInfo().noquote() << "power:" << name << "refused by the desktop:" << detail;
            reply(QStringLiteral("power"), refusal(name, "refused", "The PC refused."));
            return;
        case SessionPower::Outcome::Unavailable:
            qInfo().noquote() << "power:" << name << "not available on this desktop";
            reply(QStringLiteral("power"), refusal(name, "unavailable", "Nothing on the PC can do this."));
            return;
        }
    });
}
