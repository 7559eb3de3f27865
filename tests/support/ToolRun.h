#pragma once

// Runs a command-line tool (xclip, wl-paste, …) to its end without blocking the caller's event
// loop, which may have to serve the very selection the tool reads. Returns its output, or a
// text in parentheses naming what went wrong.

#include <QProcess>
#include <QSignalSpy>

inline QByteArray runTool(const QString& program, const QStringList& arguments,
                          const QByteArray& input = QByteArray())
{
    QProcess process;
    QSignalSpy finished(&process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished));
    process.start(program, arguments);
    if (!process.waitForStarted(5000))
        return "(" + program.toUtf8() + " did not start)";
    process.write(input);
    process.closeWriteChannel();
    if (!finished.wait(10000))
        return "(" + program.toUtf8() + " did not finish)";
    return process.readAllStandardOutput();
}
