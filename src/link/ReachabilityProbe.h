#pragma once

#include <string>

#include "link/EchoPort.h"
#include "station/Pause.h"

namespace vornix {

// Tells whether the router answers ICMP echo, and waits for it after a
// reboot. Logs nothing; callers report.
class ReachabilityProbe {
public:
    ReachabilityProbe(EchoPort& echo, Pause& pause) : echo_(echo), pause_(pause) {}

    // One echo request of size bytes of "E"; 1 only for exactly one reply
    // with status 0 carrying the same payload back.
    int echoOnce(const std::string& host, int timeToLive, int timeoutMs, int size);
    // milliseconds / 100 attempts (ttl 10, 5000 ms, 32 bytes), "arp -d"
    // before the first and after every failed one, 100 ms after a failure.
    int pingUntil(const std::string& host, int milliseconds);

private:
    EchoPort& echo_;
    Pause& pause_;
};

}  // namespace vornix
