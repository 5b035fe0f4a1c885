#pragma once

#include "link/EchoPort.h"

namespace vornix::platform {

// ICMP echo through the system's ICMP.DLL, loaded at run time once per
// process and released at exit; the ARP cache flushed with "arp -d".
class IcmpEcho : public EchoPort {
public:
    bool load() override;
    EchoReply echo(const std::string& host, int timeToLive, int timeoutMs, const std::string& payload) override;
    void flushArp() override;
};

}  // namespace vornix::platform
