#pragma once

#include <string>

namespace vornix {

// What one echo request brought back.
struct EchoReply {
    bool resolved = true;  // false: the host was neither dotted nor resolvable; nothing was sent
    int replies = 0;       // replies stored (1 for an answer, 0 for none)
    int status = -1;       // 0 (success) for an echo reply
    std::string data;      // the reply's payload
};

// The echo port: the system's ICMP echo facility and its ARP cache flush.
class EchoPort {
public:
    virtual ~EchoPort() = default;
    // Prepares the facility once per process; false when it cannot be had,
    // and then every later call answers false without trying again.
    virtual bool load() = 0;
    virtual EchoReply echo(const std::string& host, int timeToLive, int timeoutMs, const std::string& payload) = 0;
    // Deletes the cached hardware addresses; started, not waited for.
    virtual void flushArp() = 0;
};

}  // namespace vornix
