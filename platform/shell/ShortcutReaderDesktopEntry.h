#pragma once

#include "platform/shell/ShortcutReader.h"

#include <QByteArray>
#include <QStringList>

// Portable reader of freedesktop desktop entries (.desktop files): Name gives the name, Exec
// the program and its arguments (with the field codes such as %f or %U removed), Path the
// working directory. An entry of type Link gives its URL as the target. Only the
// "[Desktop Entry]" group is read; localised keys are ignored.
std::optional<ShortcutInfo> parseDesktopEntry(const QByteArray& bytes);

// Splits an Exec value (already unescaped as a string value) into program and arguments by
// the desktop-entry quoting rules and drops the field codes.
QStringList splitExecLine(const QString& exec);

// Joins arguments into one parameter text that QProcess::splitCommand splits back into the
// same arguments (double quotes around blanks, a literal quote written as three).
QString joinArguments(const QStringList& arguments);
