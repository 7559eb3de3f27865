#include "remote/UserButtonHandler.h"

#include "data/UserButtonService.h"
#include "remote/InputSimulator.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonObject>

namespace {

// The refusal sent back: a fixed code the phone words in its language, and an English
// explanation for phone apps and logs.
QJsonObject refusal(const char* error, const QString& message)
{
    return QJsonObject{{QStringLiteral("ok"), false},
                       {QStringLiteral("error"), QLatin1String(error)},
                       {QStringLiteral("message"), message}};
}

QJsonObject refusal(UserButtonService::Result result)
{
    switch (result) {
    case UserButtonService::Result::BadLabel:
        return refusal("badLabel", QStringLiteral("The label must hold 1 to %1 characters, none of them "
                                                  "control characters.")
                                       .arg(UserButtonService::MaxLabelChars));
    case UserButtonService::Result::BadKeys:
        return refusal("badKeys",
                       QStringLiteral("The keys must be 1 to %1 steps of 1 to %2 different key codes "
                                      "(1 to 254), with up to %3 held keys not repeated in a step.")
                           .arg(UserButtonService::MaxSteps)
                           .arg(UserButtonService::MaxStepKeys)
                           .arg(UserButtonService::MaxHoldKeys));
    case UserButtonService::Result::TooMany:
        return refusal("tooMany",
                       QStringLiteral("There are already %1 buttons.").arg(UserButtonService::MaxButtons));
    case UserButtonService::Result::Unknown:
        return refusal("unknown", QStringLiteral("There is no such button; it may have been deleted."));
    case UserButtonService::Result::StoreFailed:
        return refusal("storeFailed", QStringLiteral("The PC could not store the change."));
    case UserButtonService::Result::Ok:
        break;
    }
    return QJsonObject{{QStringLiteral("ok"), true}};
}

// An "id" that is a whole number; 0 (never a row id) otherwise.
int buttonId(const QJsonObject& params)
{
    return params.value(QLatin1String("id")).toInt(0);
}

} // namespace

UserButtonHandler::UserButtonHandler(InputSimulator* input)
    : m_input(input)
{
}

QStringList UserButtonHandler::commands() const
{
    return {QStringLiteral("buttonlist"), QStringLiteral("buttonchange"), QStringLiteral("buttonpress")};
}

void UserButtonHandler::handle(const QString& command, const QJsonObject& params, CommandContext& context)
{
    if (command == QLatin1String("buttonlist")) {
        context.reply(command, listBody());
    } else if (command == QLatin1String("buttonchange")) {
        context.reply(command, change(params));
    } else if (command == QLatin1String("buttonpress")) {
        press(params);
    }
}

QJsonObject UserButtonHandler::listBody()
{
    QJsonArray buttons;
    for (const auto& button : UserButtonService::instance()->buttons()) {
        const std::optional<ButtonKeys> keys = UserButtonService::storedKeys(*button);
        if (!keys)
            continue; // a row edited by hand into something the phone could not press
        QJsonObject entry = UserButtonService::keysToJson(*keys);
        entry.insert(QStringLiteral("id"), button->id());
        entry.insert(QStringLiteral("label"), button->label());
        buttons.append(entry);
    }
    return QJsonObject{{QStringLiteral("buttons"), buttons}};
}

QJsonObject UserButtonHandler::change(const QJsonObject& params)
{
    UserButtonService* const store = UserButtonService::instance();
    const QString action = params.value(QLatin1String("action")).toString();
    UserButtonService::Result result = UserButtonService::Result::Ok;
    QJsonObject answer;
    if (action == QLatin1String("add") || action == QLatin1String("edit")) {
        const QJsonObject button = params.value(QLatin1String("button")).toObject();
        const QJsonValue label = button.value(QLatin1String("label"));
        const std::optional<ButtonKeys> keys = UserButtonService::parseKeys(button);
        if (!label.isString())
            result = UserButtonService::Result::BadLabel;
        else if (!keys)
            result = UserButtonService::Result::BadKeys;
        else if (action == QLatin1String("add")) {
            int id = 0;
            result = store->add(label.toString(), *keys, &id);
            if (result == UserButtonService::Result::Ok)
                answer.insert(QStringLiteral("id"), id);
        } else {
            result = store->edit(button.value(QLatin1String("id")).toInt(0), label.toString(), *keys);
        }
    } else if (action == QLatin1String("delete")) {
        result = store->removeButton(buttonId(params));
    } else if (action == QLatin1String("move")) {
        const QJsonValue to = params.value(QLatin1String("to"));
        if (!to.isDouble() || to.toInt(-1) < 0) {
            qWarning().noquote() << "buttonchange: refused, move badRequest";
            return refusal("badRequest", QStringLiteral("\"to\" must be a position from 0 on."));
        }
        result = store->move(buttonId(params), to.toInt());
    } else {
        qWarning().noquote() << "buttonchange: refused, unknown action badRequest";
        return refusal("badRequest", QStringLiteral("\"action\" must be add, edit, delete or move."));
    }
    if (result != UserButtonService::Result::Ok) {
        qWarning().noquote() << "buttonchange: refused," << action
                             << refusal(result).value("error").toString();
        return refusal(result);
    }
    qDebug().noquote() << "buttonchange:" << action << "done";
    answer.insert(QStringLiteral("ok"), true);
    answer.insert(QStringLiteral("buttons"), listBody().value(QLatin1String("buttons")));
    return answer;
}

void UserButtonHandler::press(const QJsonObject& params)
{
    const int id = buttonId(params);
    const std::shared_ptr<UserButton> button = UserButtonService::instance()->find(id);
    const std::optional<ButtonKeys> keys = button ? UserButtonService::storedKeys(*button) : std::nullopt;
    if (!keys) {
        qWarning() << "buttonpress: no such button, ignored:" << id;
        return;
    }
    qDebug() << "buttonpress:" << id;
    m_input->holdKeys(keys->hold);
    for (const QVector<int>& step : keys->steps)
        m_input->sendKeyCombination(step);
    m_input->releaseKeys(keys->hold);
}
