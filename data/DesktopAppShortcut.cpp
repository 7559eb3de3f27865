#include "data/DesktopApp.h"

#include "platform/shell/ShortcutReader.h"

#include <QDebug>
#include <QFileInfo>

void DesktopApp::loadShortcut(const QString& shortcutPath)
{
    const auto info = createShortcutReader()->read(shortcutPath);
    if (!info)
        return;
    // Formats without a display name of their own are named after the file, up to its first dot.
    setName(info->name.isEmpty() ? QFileInfo(shortcutPath).baseName() : info->name);
    setPath(info->target);
    setWorkDir(info->workingDirectory);
    setParam(info->arguments);
    qDebug().noquote() << "Name:" << name();
    qDebug().noquote() << "Target:" << path();
    qDebug().noquote() << "Working Dir:" << workDir();
    qDebug().noquote() << "Arguments:" << param();
}
