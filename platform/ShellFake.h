#pragma once

#include "platform/Shell.h"

#include <QVector>

// Records every request in order and touches nothing: no process is started and the real
// current directory stays where it is.
class ShellFake final : public Shell
{
public:
    struct Call
    {
        enum Kind
        {
            OpenDocument,
            StartProgram,
            SetCurrentDirectory,
        };
        Kind kind = OpenDocument;
        QString path;
        QStringList arguments;
        QString workDir;
    };

    bool openDocument(const QString& path) override;
    bool startProgram(const QString& program, const QStringList& arguments, const QString& workDir) override;
    bool setCurrentDirectory(const QString& path) override;

    // What every request answers from now on.
    void setResult(bool result) { m_result = result; }
    const QVector<Call>& calls() const { return m_calls; }
    void clear() { m_calls.clear(); }
    // The last directory asked for by setCurrentDirectory (empty if none).
    QString currentDirectory() const { return m_currentDirectory; }

private:
    QVector<Call> m_calls;
    QString m_currentDirectory;
    bool m_result = true;
};
