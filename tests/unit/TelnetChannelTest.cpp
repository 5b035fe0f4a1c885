// The channel against a loopback server of the test's own: real sockets,
// real collectors, short waits.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "link/ResponseCapture.h"
#include "link/TelnetChannel.h"
#include "support/LoopbackServer.h"

namespace vornix {
namespace {

using Clock = std::chrono::steady_clock;

// Collectors end shortly after their connection does; none may stay behind.
bool collectorsGone() { return awaitCollectors(3000); }

TEST(TelnetChannel, SendsExactlyTheTextUpToItsNul) {
    test::LoopbackServer server("127.0.0.61");
    TelnetChannel channel;
    ASSERT_EQ(channel.connect(server.address(), server.port()), 1);
    EXPECT_TRUE(channel.connected());
    ASSERT_TRUE(server.waitForClient());
    channel.send("ls env\r\n");
    channel.send(std::string("cd /x\r\n\0hidden", 14));
    EXPECT_EQ(server.received(15), "ls env\r\ncd /x\r\n");
    channel.close();
    EXPECT_FALSE(channel.connected());
    EXPECT_TRUE(collectorsGone());
}

TEST(TelnetChannel, ConnectFailuresReturnZeroAndCloseIsAlwaysLegal) {
    TelnetChannel nothing;
    nothing.close();  // never connected
    {
        test::LoopbackServer server("127.0.0.62");
        const int port = server.port();
        TelnetChannel refused;
        // The same port on another loopback address: nobody listens there.
        EXPECT_EQ(refused.connect("127.0.0.63", port), 0);
        refused.close();
        TelnetChannel unresolvable;
        EXPECT_EQ(unresolvable.connect("no-such-router.invalid", port), 0);
        unresolvable.close();
    }
    test::LoopbackServer named("127.0.0.1");
    TelnetChannel byName;
    EXPECT_EQ(byName.connect("localhost", named.port()), 1) << "a host name is looked up";
    byName.close();
}

TEST(TelnetChannel, CollectForEndsEarlyWhenTheRouterCloses) {
    test::LoopbackServer server("127.0.0.64");
    TelnetChannel channel;
    ASSERT_EQ(channel.connect(server.address(), server.port()), 1);
    ASSERT_TRUE(server.waitForClient());
    ResponseCapture::instance().clear();
    server.send("bye");
    server.closeClient();
    const auto started = Clock::now();
    EXPECT_EQ(collectFor(channel, 10000), 1);
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(8));
    EXPECT_EQ(ResponseCapture::instance().text(), "bye");
    channel.close();
    EXPECT_TRUE(collectorsGone());
}

bool waitFor(const std::function<bool()>& condition) {
    for (int i = 0; i < 300 && !condition(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return condition();
}

TEST(TelnetChannel, EarlierCollectorsKeepAppendingAfterAClear) {
    test::LoopbackServer server("127.0.0.65");
    TelnetChannel channel;
    ASSERT_EQ(channel.connect(server.address(), server.port()), 1);
    ASSERT_TRUE(server.waitForClient());
    ResponseCapture& capture = ResponseCapture::instance();
    channel.send("first\r\n");
    capture.clear();
    collectFor(channel, 50);  // nothing comes: its collector goes on waiting
    server.send(std::string("late\0ignored", 12));
    EXPECT_TRUE(waitFor([&] { return capture.find("late") >= 0; }));
    EXPECT_EQ(capture.text(), "late") << "the chunk ends at its NUL";

    // What came before a command goes with the clear after it, and so does
    // the command's echo; the answer stays, even when it came at once.
    server.send("output of the command before");
    EXPECT_TRUE(waitFor([&] { return capture.find("before") >= 0; }));
    channel.send("ask\r\n");
    server.send("ask\r\nanswer");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    capture.clear();
    collectFor(channel, 300);
    EXPECT_EQ(capture.text(), "answer");

    channel.close();
    EXPECT_TRUE(collectorsGone()) << "collectors blocked on the socket end with close";
}

TEST(TelnetChannel, AnAnswerLongerThanOneReceiveKeepsItsOrder) {
    test::LoopbackServer server("127.0.0.68");
    TelnetChannel channel;
    ASSERT_EQ(channel.connect(server.address(), server.port()), 1);
    ASSERT_TRUE(server.waitForClient());
    ResponseCapture& capture = ResponseCapture::instance();
    channel.send("cat big\r\n");
    capture.clear();
    for (int i = 0; i < 6; ++i) collectFor(channel, 1);  // several collectors wait on the socket
    std::string listing;
    for (int line = 0; listing.size() < 64 * 1024; ++line) listing += "name" + std::to_string(line) + " 00:11:22:33:44:55\r\n";
    server.send(listing);
    collectFor(channel, 300);
    EXPECT_TRUE(waitFor([&] { return capture.text().size() >= listing.size(); }));
    EXPECT_TRUE(capture.text() == listing) << "chunks in the order they arrived";
    channel.close();
    EXPECT_TRUE(collectorsGone());
}

TEST(TelnetChannel, CopiesShareTheSocketAndAReconnectIsANewConnection) {
    test::LoopbackServer first("127.0.0.66");
    TelnetChannel channel;
    ASSERT_EQ(channel.connect(first.address(), first.port()), 1);
    TelnetChannel copy = channel;
    copy.send("via copy\r\n");
    EXPECT_EQ(first.received(10), "via copy\r\n");
    collectFor(copy, 10);
    collectFor(copy, 10);
    channel.close();
    copy.close();  // already closed through the other copy: nothing happens
    EXPECT_TRUE(collectorsGone());

    test::LoopbackServer second("127.0.0.67");
    ASSERT_EQ(channel.connect(second.address(), second.port()), 1);
    channel.send("second\r\n");
    EXPECT_EQ(second.received(8), "second\r\n");
    EXPECT_EQ(first.received(0, 0), "via copy\r\n");
    channel.close();
    EXPECT_TRUE(collectorsGone());
}

}  // namespace
}  // namespace vornix
