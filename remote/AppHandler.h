#pragma once

#include "remote/CommandHandler.h"

class DesktopLinks;
class InputSimulator;

// The registered applications: "appexplore" (answered with the list), "appopen" (an entry of
// that list, exactly as registered) and "closewindow" (Alt+F4 to the focused window).
class AppHandler : public CommandHandler
{
public:
    AppHandler(DesktopLinks* links, InputSimulator* input);

    QStringList commands() const override;
    void handle(const QString& command, const QJsonObject& params, CommandContext& context) override;

private:
    void explore(CommandContext& context);
    void open(const QJsonObject& params);
    void closeWindow(CommandContext& context);

    DesktopLinks* m_links;
    InputSimulator* m_input;
};
