#pragma once

#include "platform/input/InputBackend.h"

// The parts every real backend shares: the desktop's double-click time, real pauses and the
// system clocks.
class InputBackendRealTime : public InputBackend
{
public:
    int doubleClickTime() override;
    void sleep(int milliseconds) override;
    qint64 monotonicMs() override;
    qint64 wallClockMs() override;
};
