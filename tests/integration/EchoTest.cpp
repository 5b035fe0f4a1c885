// A real ICMP echo to this machine. Needs root (raw socket) or a ping socket.
#include <gtest/gtest.h>

#include "link/ReachabilityProbe.h"
#include "platform/posix/SocketEcho.h"

namespace vornix {
namespace {

TEST(SocketEcho, LoopbackAnswersExactly) {
    platform::SocketEcho echo;
    if (!echo.load()) GTEST_SKIP() << "no ICMP socket here: run as root (raw socket) or allow ping sockets";
    RealPause pause;
    ReachabilityProbe probe(echo, pause);
    EXPECT_EQ(probe.echoOnce("127.0.0.1", 10, 5000, 32), 1);
    EXPECT_EQ(probe.echoOnce("127.0.0.1", 10, 5000, 0), 1) << "an empty payload comes back empty";
    EXPECT_EQ(probe.echoOnce("localhost", 10, 5000, 255), 1);
    EXPECT_EQ(probe.echoOnce("no-such-router.invalid", 10, 5000, 32), 0);
}

}  // namespace
}  // namespace vornix
