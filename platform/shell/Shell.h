#pragma once

#include <QString>
#include <QStringList>

#include <memory>

// The desktop shell services the phone's media and launcher commands need: opening a
// document with the program the desktop associates with it, and starting a program in a
// folder of its own. Our own current directory never moves. Results tell whether the request
// was handed over, not whether the program later succeeded.
class Shell
{
public:
    virtual ~Shell() = default;

    // Opens `path` (a file, a folder or a URL) with the desktop's associated program.
    virtual bool openDocument(const QString& path) = 0;
    // Starts `program` detached with `arguments`, in `workDir` (empty: our current directory).
    // A program name without a folder is looked up on the search path. A desktop entry starts
    // the program it names (its own arguments first); a document or a folder goes to
    // openDocument. Nothing is run through a command interpreter.
    virtual bool startProgram(const QString& program, const QStringList& arguments,
                              const QString& workDir) = 0;
};

// The implementation for this operating system.
std::unique_ptr<Shell> createShell();
