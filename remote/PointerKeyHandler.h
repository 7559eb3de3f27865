#pragma once

#include "remote/CommandHandler.h"

class InputSimulator;
class TextTyper;

// Pointer and keyboard: "mousemove", "mouseclick", "mousedown", "mouseup", "mousewheel" and
// "keyinput" (typed text through the shared TextTyper, key combinations at once). No replies.
class PointerKeyHandler : public CommandHandler
{
public:
    PointerKeyHandler(InputSimulator* input, TextTyper* typer);

    QStringList commands() const override;
    void handle(const QString& command, const QJsonObject& params, CommandContext& context) override;

private:
    void mouseClick(const QJsonObject& params, CommandContext& context);
    void mouseButton(const QJsonObject& params, bool down, CommandContext& context);
    void keyInput(const QJsonObject& params);

    InputSimulator* m_input;
    TextTyper* m_typer;
};
