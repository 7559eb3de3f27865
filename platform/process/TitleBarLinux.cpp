#include "platform/process/TitleBar.h"

void colourTitleBar(QWidget* window, const QColor& caption, const QColor& text)
{
    // Title bars belong to the window manager here; there is no per-window colour request.
    (void)window;
    (void)caption;
    (void)text;
}
