#pragma once

#include <utility>

#include "link/EchoPort.h"
#include "config/RouterPort.h"

namespace vornix::platform {

// ICMP echo through the system's ICMP.DLL, loaded at run time once per
// process and released at exit; the ARP cache flushed with "arp -d". On a
// gang station's port the echo goes from the port's address
// (IcmpSendEcho2Ex) and only that adapter's neighbours are flushed
// (FlushIpNetTable2), both looked up in the IP helper when first needed.
class IcmpEcho : public EchoPort {
public:
    explicit IcmpEcho(RouterPort port = RouterPort()) : port_(std::move(port)) {}
    bool load() override;
    EchoReply echo(const std::string& host, int timeToLive, int timeoutMs, const std::string& payload) override;
    void flushArp() override;

private:
    RouterPort port_;
};

}  // namespace vornix::platform
