#pragma once

#include "remote/CommandHandler.h"

class InputSimulator;
class TextTyper;

// Pointer and keyboard: "mousemove", "mouseclick", "mousedown", "mouseup", "mousewheel" and
// "keyinput" (typed text through the shared TextTyper, key combinations at once). A text with
// characters that could be neither typed nor pasted is answered with their count.
// "mousewheel" takes whole notches in "amount", or, from fingers, 120ths of a notch in "fine"
// with "end" true once they lift.
class PointerKeyHandler : public CommandHandler
{
public:
    PointerKeyHandler(InputSimulator* input, TextTyper* typer);

    QStringList commands() const override;
    void handle(const QString& command, const QJsonObject& params, CommandContext& context) override;

private:
    void mouseClick(const QJsonObject& params, CommandContext& context);
    // "mousewheel" with "fine" (120ths of a notch) and/or "end" (the fingers lifted).
    void smoothWheel(const QJsonObject& params, CommandContext& context);
    void mouseButton(const QJsonObject& params, bool down, CommandContext& context);
    void keyInput(const QJsonObject& params, CommandContext& context);

    InputSimulator* m_input;
    TextTyper* m_typer;
};
