#pragma once

#include "platform/InputBackend.h"

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

// Typed text arrives one UTF-16 unit per record; this joins surrogate halves into one code
// point and folds a CR LF line break into one.
class TypedUnitJoiner
{
public:
    // The code point the unit completes, or 0 when it completes none (a high half, a lone
    // low half, or the LF of a CR LF).
    char32_t take(char16_t unit);

private:
    char16_t m_pendingHigh = 0;
    bool m_lastWasCarriageReturn = false;
};
