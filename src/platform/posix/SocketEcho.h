#pragma once

#include <utility>

#include "link/EchoPort.h"
#include "config/RouterPort.h"

namespace vornix::platform {

// ICMP echo off Windows: a raw ICMP socket (needs root or CAP_NET_RAW), else
// a ping socket where net.ipv4.ping_group_range allows one. Without either it
// says so once on standard error and every echo fails. The neighbour cache is
// flushed with "ip neigh flush all" (needs CAP_NET_ADMIN; without it the
// flush does nothing, as a failed "arp -d" does). On a gang station's port
// the echo goes out by that port's interface from its address, only its
// replies count, and only that interface's neighbours are flushed.
class SocketEcho : public EchoPort {
public:
    explicit SocketEcho(RouterPort port = RouterPort()) : port_(std::move(port)) {}
    bool load() override;
    EchoReply echo(const std::string& host, int timeToLive, int timeoutMs, const std::string& payload) override;
    void flushArp() override;

private:
    RouterPort port_;
};

}  // namespace vornix::platform
