// Records when the X server reports pointer motion: one line per XInput2 raw motion event, the
// CLOCK_MONOTONIC time of its receipt in seconds, for `seconds`, then exits. Prints "ready" on
// stderr once it listens. Raw events come for every device, XTest's included, whatever window
// the pointer is over.
//   bench_xmotion_recorder <seconds>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

#include <poll.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

namespace {

double monotonic()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

} // namespace

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "no X display\n");
        return 1;
    }
    int opcode = 0, event = 0, error = 0, major = 2, minor = 2;
    if (!XQueryExtension(display, "XInputExtension", &opcode, &event, &error) ||
        XIQueryVersion(display, &major, &minor) != Success) {
        std::fprintf(stderr, "no XInput2\n");
        return 1;
    }
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(bits, XI_RawMotion);
    XIEventMask mask{XIAllMasterDevices, sizeof(bits), bits};
    XISelectEvents(display, DefaultRootWindow(display), &mask, 1);
    XSync(display, False);
    std::fprintf(stderr, "ready\n");

    std::vector<double> times;
    times.reserve(1 << 16);
    const double end = monotonic() + seconds;
    pollfd watch{ConnectionNumber(display), POLLIN, 0};
    for (double now = monotonic(); now < end; now = monotonic()) {
        if (XPending(display) == 0) {
            poll(&watch, 1, int((end - now) * 1000) + 1);
            continue;
        }
        XEvent next;
        XNextEvent(display, &next);
        const double received = monotonic();
        if (next.xcookie.type == GenericEvent && next.xcookie.extension == opcode &&
            next.xcookie.evtype == XI_RawMotion)
            times.push_back(received);
    }
    for (const double time : times)
        std::printf("%.6f\n", time);
    XCloseDisplay(display);
    return 0;
}
