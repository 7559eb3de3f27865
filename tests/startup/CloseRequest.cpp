// Kept apart from the test: the X headers define macros that collide with Qt's names.
#include <X11/Xlib.h>

// What a window manager's close button sends: the polite request, which the window may refuse.
bool sendCloseRequest(const char* display, unsigned long window)
{
    Display* connection = XOpenDisplay(display);
    if (!connection)
        return false;
    XEvent event = {};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(connection, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(connection, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    const bool sent = XSendEvent(connection, window, False, NoEventMask, &event) != 0;
    XCloseDisplay(connection);
    return sent;
}
