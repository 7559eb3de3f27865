#include "platform/shell/ShellFake.h"

bool ShellFake::openDocument(const QString& path)
{
    m_calls.append({Call::OpenDocument, path, {}, {}});
    return m_result;
}

bool ShellFake::startProgram(const QString& program, const QStringList& arguments, const QString& workDir)
{
    m_calls.append({Call::StartProgram, program, arguments, workDir});
    return m_result;
}
