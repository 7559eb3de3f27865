#pragma once

class QColor;
class QWidget;

// Gives a top-level window's system title bar the application's dark colours: dark mode on,
// `caption` behind the title, `text` for it. Only the Windows desktop window manager offers
// this; where the system draws its own decorations (X11 window managers) it does nothing and
// the window keeps the system's colours.
void colourTitleBar(QWidget* window, const QColor& caption, const QColor& text);
