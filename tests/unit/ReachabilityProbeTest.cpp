#include <gtest/gtest.h>

#include <deque>

#include "link/ReachabilityProbe.h"
#include "support/RecordingPause.h"

namespace vornix {
namespace {

// A scripted echo port: replies handed out in order, calls recorded.
struct FakeEcho : EchoPort {
    bool loads = true;
    std::deque<EchoReply> replies;
    std::vector<std::string> events;  // "arp", "echo <host> <ttl> <timeout> <size>"
    bool load() override { return loads; }
    EchoReply echo(const std::string& host, int ttl, int timeout, const std::string& payload) override {
        events.push_back("echo " + host + " " + std::to_string(ttl) + " " + std::to_string(timeout) + " " +
                         std::to_string(payload.size()));
        EXPECT_EQ(payload, std::string(payload.size(), 'E'));
        if (replies.empty()) return EchoReply{};
        EchoReply r = replies.front();
        replies.pop_front();
        return r;
    }
    void flushArp() override { events.push_back("arp"); }
};

EchoReply good(std::size_t size = 32) { return EchoReply{true, 1, 0, std::string(size, 'E')}; }

TEST(ReachabilityProbe, AttemptsArpAndPausesFollowTheMilliseconds) {
    {
        FakeEcho echo;
        test::RecordingPause pause;
        ReachabilityProbe probe(echo, pause);
        EXPECT_EQ(probe.pingUntil("192.168.1.1", 99), 0);
        EXPECT_EQ(echo.events, std::vector<std::string>{"arp"}) << "under 100 ms: no echo at all";
        EXPECT_TRUE(pause.pauses().empty());
    }
    {
        FakeEcho echo;
        test::RecordingPause pause;
        ReachabilityProbe probe(echo, pause);
        EXPECT_EQ(probe.pingUntil("192.168.1.1", 250), 0);
        const std::string e = "echo 192.168.1.1 10 5000 32";
        EXPECT_EQ(echo.events, (std::vector<std::string>{"arp", e, "arp", e, "arp"}));
        EXPECT_EQ(pause.pauses(), (std::vector<int>{100, 100})) << "the last failure pauses too";
    }
    {
        FakeEcho echo;
        test::RecordingPause pause;
        ReachabilityProbe probe(echo, pause);
        EXPECT_EQ(probe.pingUntil("10.0.0.1", 1400), 0);
        int echoes = 0, arps = 0;
        for (const auto& event : echo.events) (event == "arp" ? arps : echoes)++;
        EXPECT_EQ(echoes, 14);
        EXPECT_EQ(arps, 15);
        EXPECT_EQ(pause.pauses().size(), 14u);
    }
}

TEST(ReachabilityProbe, AnAnswerEndsAtOnce) {
    FakeEcho echo;
    test::RecordingPause pause;
    echo.replies = {good()};
    ReachabilityProbe probe(echo, pause);
    EXPECT_EQ(probe.pingUntil("192.168.1.1", 1400), 1);
    EXPECT_EQ(echo.events, (std::vector<std::string>{"arp", "echo 192.168.1.1 10 5000 32"}));
    EXPECT_TRUE(pause.pauses().empty());

    FakeEcho later;
    test::RecordingPause pause2;
    later.replies = {EchoReply{}, EchoReply{}, good()};
    ReachabilityProbe probe2(later, pause2);
    EXPECT_EQ(probe2.pingUntil("192.168.1.1", 1000), 1);
    EXPECT_EQ(pause2.pauses(), (std::vector<int>{100, 100}));
}

TEST(ReachabilityProbe, OnlyAnExactReplyCounts) {
    const struct {
        const char* what;
        EchoReply reply;
        int expected;
    } cases[] = {
        {"exact", good(), 1},
        {"shorter payload", good(31), 0},
        {"longer payload", good(33), 0},
        {"other byte", EchoReply{true, 1, 0, std::string(31, 'E') + "F"}, 0},
        {"status not success", EchoReply{true, 1, 11003, std::string(32, 'E')}, 0},
        {"two replies", EchoReply{true, 2, 0, std::string(32, 'E')}, 0},
        {"no reply", EchoReply{true, 0, 0, std::string(32, 'E')}, 0},
        {"unresolved", EchoReply{false, 0, -1, ""}, 0},
    };
    for (const auto& c : cases) {
        FakeEcho echo;
        test::RecordingPause pause;
        echo.replies = {c.reply};
        ReachabilityProbe probe(echo, pause);
        EXPECT_EQ(probe.echoOnce("192.168.1.1", 10, 5000, 32), c.expected) << c.what;
    }
    FakeEcho missing;
    missing.loads = false;
    test::RecordingPause pause;
    ReachabilityProbe probe(missing, pause);
    EXPECT_EQ(probe.pingUntil("192.168.1.1", 300), 0);
    EXPECT_EQ(missing.events, (std::vector<std::string>{"arp", "arp", "arp", "arp"})) << "no echo without the library";
}

}  // namespace
}  // namespace vornix
