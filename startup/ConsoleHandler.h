#pragma once

#include <functional>

// What the process does when the operating system asks it to end: logs the request and,
// for the known events, quits the application after a 500 ms pause. Returns whether the
// event was handled. `schedule` runs a callback after the given number of milliseconds;
// the default arms a single-shot timer, so the event loop keeps serving meanwhile.
using DelayedCall = std::function<void(int milliseconds, std::function<void()> callback)>;
bool consoleCtrlHandler(int ctrlType, const DelayedCall& schedule = {});

// Connected to QCoreApplication::aboutToQuit.
void onAboutToQuit();
