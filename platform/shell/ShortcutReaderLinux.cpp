#include "platform/shell/ShortcutReader.h"
#include "platform/shell/ShortcutReaderDesktopEntry.h"
#include "platform/shell/ShortcutReaderLnk.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

// Shortcuts are a few kilobytes; a larger file is not one, and is not read into memory.
constexpr qint64 MaxShortcutSize = 1024 * 1024;

std::optional<QByteArray> readSmallFile(const QString& path)
{
    // Only regular files: opening a named pipe blocks until some writer appears.
    if (!QFileInfo(path).isFile())
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > MaxShortcutSize)
        return std::nullopt;
    QByteArray bytes = file.read(MaxShortcutSize + 1);
    if (bytes.size() > MaxShortcutSize)
        return std::nullopt;
    return bytes;
}

// Windows shell links are read with the portable parser (they turn up on shared drives and
// dual-boot disks); desktop entries are how Linux users start programs.
class ShortcutReaderLinux final : public ShortcutReader
{
public:
    std::optional<ShortcutInfo> read(const QString& path) const override
    {
        const QString suffix = QFileInfo(path).suffix().toLower();
        if (suffix == QLatin1String("lnk")) {
            const auto bytes = readSmallFile(path);
            return bytes ? parseShellLink(*bytes) : std::nullopt;
        }
        if (suffix == QLatin1String("desktop")) {
            const auto bytes = readSmallFile(path);
            if (!bytes)
                return std::nullopt;
            auto info = parseDesktopEntry(*bytes);
            // A bare program name is looked up on PATH, so the stored path starts the
            // program wherever the launcher runs.
            if (info && !info->target.contains(QLatin1Char('/'))) {
                const QString found = QStandardPaths::findExecutable(info->target);
                if (!found.isEmpty())
                    info->target = QDir::toNativeSeparators(found);
            }
            return info;
        }
        return std::nullopt;
    }
};

} // namespace

std::unique_ptr<ShortcutReader> createShortcutReader()
{
    return std::make_unique<ShortcutReaderLinux>();
}
