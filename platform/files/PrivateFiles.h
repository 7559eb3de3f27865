#pragma once

#include <QString>

// Files and folders of ours that only their owner may read: the settings file holds the pairing
// token and the desktop's restore token, the data folder the user's lists. Other users of the
// same PC must not read them, whatever the umask.

// Creates the file empty when it is missing and takes every permission of the group and of
// others away (0600 for a new file). A settings store rewrites its file by renaming a fresh one
// over it, which keeps the mode of the file it replaces, so a file made private once stays so.
// False when the file cannot be created or changed.
bool makeFilePrivate(const QString& path);
// The same for a folder, created with its missing parents (0700 for a new one).
bool makeFolderPrivate(const QString& path);

// The user's settings file ("Orvane", "Velmora"), where QSettings keeps it.
QString userSettingsFileName();
