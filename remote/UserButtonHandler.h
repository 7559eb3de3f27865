#pragma once

#include "remote/CommandHandler.h"

class InputSimulator;

// "buttonlist", "buttonchange", "buttonpress": the buttons the user made on the phone, stored
// on the PC so that every phone and browser sees the same ones. Changes are answered with the
// whole list, or with the reason they were refused.
class UserButtonHandler final : public CommandHandler
{
public:
    explicit UserButtonHandler(InputSimulator* input);

    QStringList commands() const override;
    void handle(const QString& command, const QJsonObject& params, CommandContext& context) override;

    // The list as the phone gets it: {"buttons": [{"id", "label", "hold", "steps"}, ...]}.
    static QJsonObject listBody();

private:
    QJsonObject change(const QJsonObject& params);
    void press(const QJsonObject& params);

    InputSimulator* m_input;
};
