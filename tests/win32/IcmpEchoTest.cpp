// A real ICMP echo through ICMP.DLL.
#include <gtest/gtest.h>

#include "link/ReachabilityProbe.h"
#include "platform/win32/IcmpEcho.h"

namespace vornix {
namespace {

TEST(IcmpEcho, LoopbackAnswersExactly) {
    platform::IcmpEcho echo;
    ASSERT_TRUE(echo.load()) << "ICMP.DLL or its entry points are missing";
    RealPause pause;
    ReachabilityProbe probe(echo, pause);
    EXPECT_EQ(probe.echoOnce("127.0.0.1", 10, 5000, 32), 1);
    EXPECT_EQ(probe.echoOnce("no-such-router.invalid", 10, 5000, 32), 0);
}

}  // namespace
}  // namespace vornix
