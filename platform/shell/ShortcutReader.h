#pragma once

#include <QString>

#include <memory>
#include <optional>

// What a shortcut file says about the program it starts.
struct ShortcutInfo
{
    // The shortcut's own display name; empty when the format has none (the caller then names
    // it after the file).
    QString name;
    QString target;
    QString workingDirectory;
    QString arguments;
};

// Reads the shortcut formats the user may pick when registering an application: Windows
// shell links and, on Linux, freedesktop desktop entries.
class ShortcutReader
{
public:
    virtual ~ShortcutReader() = default;

    // Nothing when the file is missing, unreadable or not a shortcut this reader knows.
    virtual std::optional<ShortcutInfo> read(const QString& path) const = 0;
};

// The reader for this operating system.
std::unique_ptr<ShortcutReader> createShortcutReader();
