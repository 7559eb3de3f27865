#pragma once

#include <QString>

// Names for files that arrive from the phone. Whatever the phone calls a file, it lands as one
// plain file inside the chosen folder: no folder parts, no "..", no control or direction
// characters, not hidden, at most 255 bytes of UTF-8, never empty.
namespace ReceivedFileName {

constexpr int MaxBytes = 255;

QString sanitized(const QString& name);
// `name` itself when the folder has nothing by that name, else "name (2).ext", "name (3).ext"…
// shortened as needed to stay within MaxBytes. Only a hint: the rename that commits a file
// refuses to overwrite, and the caller asks again with `first` past the taken numbers.
QString unique(const QString& folder, const QString& name, int first = 1, int* used = nullptr);

} // namespace ReceivedFileName
