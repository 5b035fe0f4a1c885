#pragma once

// Loopback answers ICMP even while the simulated router reboots: the router
// itself says whether it would answer, as a real router's echo does.
#include "RouterSim.h"
#include "link/EchoPort.h"

namespace vornix::test {

struct RouterEcho : EchoPort {
    routersim::RouterSim& router;
    explicit RouterEcho(routersim::RouterSim& r) : router(r) {}
    bool load() override { return true; }
    EchoReply echo(const std::string&, int, int, const std::string& payload) override {
        return router.rebooting() ? EchoReply{} : EchoReply{true, 1, 0, payload};
    }
    void flushArp() override {}
};

}  // namespace vornix::test
