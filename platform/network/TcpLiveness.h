#pragma once

#include <QtGlobal>

// How soon the kernel gives up on a TCP peer that has gone without a word (a phone that
// slept, left the Wi-Fi or lost power). The system's default keep-alive waits two hours
// before its first probe; a phone that vanished would stay the current phone that long.
struct TcpLiveness
{
    int idleSeconds = 10;    // silence before the first probe
    int intervalSeconds = 3; // between unanswered probes
    int probes = 3;          // unanswered probes that end the connection
    // Data sent and not acknowledged this long ends the connection too; keep-alive probes
    // only start once nothing is in flight. When both are set the kernel takes this one for
    // keep-alive too, so it is the idle time plus all probes.
    int unacknowledgedSeconds = 19;
};

// Applies `liveness` to the connected TCP socket `descriptor`; false when the system refused
// one of the options (the connection then keeps the system's times).
bool applyTcpLiveness(qintptr descriptor, const TcpLiveness& liveness = TcpLiveness());
