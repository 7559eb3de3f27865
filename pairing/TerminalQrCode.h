#pragma once

#include <QString>

// `text` as a QR code drawn with Unicode half blocks for a terminal: every character cell
// holds two modules, one above the other. Dark modules are drawn as the glyph in black on an
// explicitly bright white background, so the code reads the same on a dark or a light terminal
// theme, inside a quiet zone of light modules. Each line resets the colours before its line
// feed. Empty when the text cannot be encoded.
QString terminalQrCode(const QString& text);
