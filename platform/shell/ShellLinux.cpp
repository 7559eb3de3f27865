#include "platform/shell/Shell.h"
#include "platform/shell/ShortcutReader.h"

#include <QDebug>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

namespace {

// A desktop entry naming another desktop entry is followed this many times, no more, so a
// pair of entries naming each other cannot loop.
constexpr int kMaxEntryDepth = 4;

bool looksLikeUrl(const QString& text)
{
    // Two letters at least, so that "C:" style drive letters are not taken for a scheme.
    const QUrl url(text);
    return url.isValid() && url.scheme().size() > 1;
}

bool startDetached(const QString& program, const QStringList& arguments, const QString& workDir)
{
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    if (!workDir.isEmpty())
        process.setWorkingDirectory(workDir);
    if (!process.startDetached()) {
        qWarning().noquote() << "Shell: cannot start" << program << "-" << process.errorString();
        return false;
    }
    return true;
}

// The desktop's opener, started detached and never through a command interpreter.
class ShellLinux final : public Shell
{
public:
    bool openDocument(const QString& path) override
    {
        QString target;
        const QFileInfo info(path);
        if (!path.isEmpty() && info.exists())
            target = info.absoluteFilePath(); // absolute, so it cannot be read as an option
        else if (looksLikeUrl(path))
            target = path;
        if (target.isEmpty()) {
            qWarning().noquote() << "Shell: nothing to open at" << path;
            return false;
        }
        const QString xdgOpen = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
        if (!xdgOpen.isEmpty())
            return startDetached(xdgOpen, {target}, QString());
        const QString gio = QStandardPaths::findExecutable(QStringLiteral("gio"));
        if (!gio.isEmpty())
            return startDetached(gio, {QStringLiteral("open"), target}, QString());
        qWarning().noquote() << "Shell: no opener (xdg-open, gio) found for" << target;
        return false;
    }

    bool startProgram(const QString& program, const QStringList& arguments, const QString& workDir) override
    {
        return start(program, arguments, workDir, 0);
    }

private:
    bool start(const QString& program, const QStringList& arguments, const QString& workDir, int depth)
    {
        if (program.isEmpty())
            return false;
        // A missing working directory fails the start rather than running the program
        // somewhere it was not meant to run.
        if (!workDir.isEmpty() && !QFileInfo(workDir).isDir()) {
            qWarning().noquote() << "Shell: working directory not found:" << workDir;
            return false;
        }

        const QFileInfo info(program);
        if (info.isFile() && info.suffix().compare(QLatin1String("desktop"), Qt::CaseInsensitive) == 0)
            return startDesktopEntry(program, arguments, workDir, depth);

        QString executable;
        if (!program.contains(QLatin1Char('/')))
            executable = QStandardPaths::findExecutable(program);
        else if (info.isFile() && info.isExecutable())
            executable = info.absoluteFilePath();
        if (!executable.isEmpty())
            return startDetached(executable, arguments, workDir);

        // Documents, folders and links: the desktop knows what to start for them.
        if (info.exists() || looksLikeUrl(program))
            return openDocument(program);
        qWarning().noquote() << "Shell: program not found:" << program;
        return false;
    }

    bool startDesktopEntry(const QString& path, const QStringList& arguments, const QString& workDir,
                           int depth)
    {
        if (depth >= kMaxEntryDepth) {
            qWarning().noquote() << "Shell: desktop entries nested too deeply at" << path;
            return false;
        }
        const auto entry = createShortcutReader()->read(path);
        if (!entry || entry->target.isEmpty()) {
            qWarning().noquote() << "Shell: not a launchable desktop entry:" << path;
            return false;
        }
        // The entry's own arguments come first; what the caller adds follows them.
        const QStringList all = QProcess::splitCommand(entry->arguments) + arguments;
        const QString directory = workDir.isEmpty() ? entry->workingDirectory : workDir;
        return start(entry->target, all, directory, depth + 1);
    }
};

} // namespace

std::unique_ptr<Shell> createShell()
{
    return std::make_unique<ShellLinux>();
}
