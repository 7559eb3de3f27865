#include "remote/Server.h"

#include "data/AppService.h"
#include "platform/Shell.h"
#include "remote/InputSimulator.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>

#include <algorithm>

void Server::setShell(std::unique_ptr<Shell> shell)
{
    m_shell = std::move(shell);
}

Shell* Server::shell()
{
    if (!m_shell)
        m_shell = createShell();
    return m_shell.get();
}

void Server::handleAppExplore(const QJsonObject& params)
{
    Q_UNUSED(params)
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
    sendReply(QStringLiteral("appexplore"), body);
}

void Server::handleAppOpen(const QJsonObject& params)
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
    shell()->startProgram(path, QProcess::splitCommand(args), workdir);
}

void Server::handleCloseWindow()
{
    const QString text = QStringLiteral("收到关闭窗口命令");
    qDebug().noquote() << text;
    emit logMessage(text);
    // Alt+F4: Alt down, F4 down, F4 up, Alt up.
    m_inputSimulator->sendKeyCombination({18, 115});
}
