#pragma once

// Declares the process DPI-aware before Qt starts. Windows needs an explicit call; on X11
// Qt reads the scale from the display itself, so there is nothing to do.
void setupDpiAwareness();
