#pragma once

#include "platform/shell/Shell.h"

#include <QVector>

// Records every request in order (with the working directory a program was given) and
// touches nothing: no process is started.
class ShellFake final : public Shell
{
public:
    struct Call
    {
        enum Kind
        {
            OpenDocument,
            StartProgram,
        };
        Kind kind = OpenDocument;
        QString path;
        QStringList arguments;
        QString workDir;
    };

    bool openDocument(const QString& path) override;
    bool startProgram(const QString& program, const QStringList& arguments, const QString& workDir) override;

    // What every request answers from now on.
    void setResult(bool result) { m_result = result; }
    const QVector<Call>& calls() const { return m_calls; }
    void clear() { m_calls.clear(); }

private:
    QVector<Call> m_calls;
    bool m_result = true;
};
