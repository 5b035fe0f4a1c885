#pragma once

#include "link/EchoPort.h"

namespace vornix::platform {

// ICMP echo off Windows: a raw ICMP socket (needs root or CAP_NET_RAW), else
// a ping socket where net.ipv4.ping_group_range allows one. Without either it
// says so once on standard error and every echo fails. The neighbour cache is
// flushed with "ip neigh flush all" (needs CAP_NET_ADMIN; without it the
// flush does nothing, as a failed "arp -d" does).
class SocketEcho : public EchoPort {
public:
    bool load() override;
    EchoReply echo(const std::string& host, int timeToLive, int timeoutMs, const std::string& payload) override;
    void flushArp() override;
};

}  // namespace vornix::platform
