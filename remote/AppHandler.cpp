#include "remote/AppHandler.h"

#include "data/AppService.h"
#include "platform/shell/Shell.h"
#include "remote/DesktopLinks.h"
#include "remote/InputSimulator.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>

#include <algorithm>

AppHandler::AppHandler(DesktopLinks* links, InputSimulator* input)
    : m_links(links)
    , m_input(input)
{
}

QStringList AppHandler::commands() const
{
    return {QStringLiteral("appexplore"), QStringLiteral("appopen"), QStringLiteral("closewindow")};
}

void AppHandler::handle(const QString& command, const QJsonObject& params, CommandContext& context)
{
    if (command == QLatin1String("appexplore"))
        explore(context);
    else if (command == QLatin1String("appopen"))
        open(params);
    else if (command == QLatin1String("closewindow"))
        closeWindow(context);
}

void AppHandler::explore(CommandContext& context)
{
    QJsonArray apps;
    for (const auto& app : AppService::instance()->apps()) {
        QJsonObject entry;
        entry.insert(QStringLiteral("name"), app->name());
        entry.insert(QStringLiteral("path"), app->path());
        entry.insert(QStringLiteral("workdir"), app->workDir());
        entry.insert(QStringLiteral("args"), app->param());
        apps.append(entry);
    }
    QJsonObject body;
    body.insert(QStringLiteral("apps"), apps);
    context.reply(QStringLiteral("appexplore"), body);
}

void AppHandler::open(const QJsonObject& params)
{
    const QString path = params.value(QLatin1String("path")).toString();
    const QString workdir = params.value(QLatin1String("workdir")).toString();
    const QString args = params.value(QLatin1String("args")).toString();

    // Only what the user registered is started, exactly as registered: the phone sends back
    // an entry of the list it was given.
    const auto& apps = AppService::instance()->apps();
    const auto registered = std::find_if(apps.cbegin(), apps.cend(), [&](const auto& app) {
        return app->path() == path && app->workDir() == workdir && app->param() == args;
    });
    if (registered == apps.cend()) {
        qWarning().noquote() << "appopen: not a registered application, ignored:" << path;
        return;
    }

    // The program gets its working directory; ours stays where it is. The parameter text is split the way the
    // application editor joins arguments (double quotes around blanks) and never handed to a command
    // interpreter.
    m_links->shell()->startProgram(path, QProcess::splitCommand(args), workdir);
}

void AppHandler::closeWindow(CommandContext& context)
{
    const QString text = QStringLiteral("收到关闭窗口命令");
    qDebug().noquote() << text;
    context.logActivity(text);
    // Alt+F4: Alt down, F4 down, F4 up, Alt up.
    m_input->sendKeyCombination({18, 115});
}
