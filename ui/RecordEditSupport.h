#pragma once

#include <QString>

class QLineEdit;

// True when `field` holds text. Otherwise tells the user `message` and puts the keyboard
// focus into the field, so the editor stays open on the missing entry.
bool requireText(QLineEdit* field, const QString& message);

// Where the file choosers open: the user's desktop folder (empty when there is none).
QString desktopFolder();
