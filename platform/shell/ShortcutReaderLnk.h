#pragma once

#include "platform/shell/ShortcutReader.h"

#include <QByteArray>

// Portable reader of Windows shell-link (.lnk) files, following the published MS-SHLLINK
// format. The target comes from the link info's local base path (or its network share), else
// from the item ID list, else from the environment-variable block; the working directory and
// arguments from the string data. Texts are cut to 259 UTF-16 units, as the shell's
// MAX_PATH buffers cut them. `name` is left empty: a link is named after its file.
std::optional<ShortcutInfo> parseShellLink(const QByteArray& bytes);

// The 8-bit "ANSI" texts of a link were written in the creating system's code page, which the
// file does not record: valid UTF-8 (including plain ASCII) is taken as such, anything else
// as Windows-1252.
QString decodeAnsiText(const QByteArray& bytes);
