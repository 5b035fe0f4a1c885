#include "link/ReachabilityProbe.h"

namespace vornix {

int ReachabilityProbe::echoOnce(const std::string& host, int timeToLive, int timeoutMs, int size) {
    if (!echo_.load()) return 0;
    if (size < 0) size = 0;
    const std::string payload(static_cast<std::size_t>(size), 'E');
    const EchoReply reply = echo_.echo(host, timeToLive, timeoutMs, payload);
    if (!reply.resolved || reply.replies != 1 || reply.status != 0) return 0;
    return reply.data == payload ? 1 : 0;
}

int ReachabilityProbe::pingUntil(const std::string& host, int milliseconds) {
    echo_.flushArp();
    const int attempts = milliseconds / 100;
    for (int i = 0; i < attempts; ++i) {
        if (echoOnce(host, 10, 5000, 32)) return 1;
        echo_.flushArp();
        pause_.sleepMs(100);
    }
    return 0;
}

}  // namespace vornix
