#pragma once

// Keeps OpenGL out of the process. The window and the tray icon draw with the raster engine,
// but Qt's X11 back end loads the OpenGL driver stack when it first asks what the display can
// do; with a software renderer that is some 40 MB resident in a program that idles all day.
// Call before the application object exists; a choice the user made in the environment stands.
void preferRasterGraphics();
