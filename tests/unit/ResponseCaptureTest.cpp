#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "link/Pacer.h"
#include "link/ResponseCapture.h"

namespace vornix {
namespace {

using Clock = ResponseCapture::Clock;
using std::chrono::milliseconds;

// A clock the test moves by hand.
Clock::time_point fakeNow{};
Clock::time_point fakeClock() { return fakeNow; }
const Clock::time_point t0 = Clock::time_point{} + std::chrono::hours(1);

void arrive(ResponseCapture& capture, const std::string& bytes, int atMs) {
    capture.received(bytes.data(), bytes.size(), t0 + milliseconds(atMs));
}

TEST(ResponseCapture, ChunksShowFiftyMillisecondsAfterArrivalInArrivalOrder) {
    ResponseCapture capture(&fakeClock);
    arrive(capture, std::string(4096, 'h'), 0);  // a receive's head and tail, taken by two collectors
    arrive(capture, "tail", 1);
    fakeNow = t0 + milliseconds(49);
    EXPECT_EQ(capture.text(), "");
    fakeNow = t0 + milliseconds(50);
    EXPECT_EQ(capture.text(), std::string(4096, 'h'));
    fakeNow = t0 + milliseconds(51);
    EXPECT_EQ(capture.text(), std::string(4096, 'h') + "tail");

    arrive(capture, std::string("ab\0cd", 5), 60);
    fakeNow = t0 + milliseconds(200);
    EXPECT_EQ(capture.text().substr(4100), "ab") << "a chunk ends at its first NUL";
}

TEST(ResponseCapture, SearchBounds) {
    ResponseCapture capture(&fakeClock);
    arrive(capture, "login: Password: env", 0);
    fakeNow = t0 + milliseconds(100);
    EXPECT_EQ(capture.find("Password"), 7);
    EXPECT_EQ(capture.find("password"), -1) << "case-sensitive";
    EXPECT_EQ(capture.find("login", 1), -1) << "present only before the start";
    EXPECT_EQ(capture.find("env", 17), 17);
    EXPECT_EQ(capture.find("e", 21), -1) << "start beyond the end";
    EXPECT_EQ(capture.find("l", -5), 0) << "a start below 0 counts as 0";
}

// What a clear leaves: chunks that came before the latest command go, visible
// or not; its answer stays, its echo does not.
TEST(ResponseCapture, AClearKeepsTheAnswerToTheLatestCommand) {
    struct Arrival {
        const char* bytes;
        int atMs;
    };
    const struct {
        const char* what;
        std::vector<Arrival> before;  // the command is sent at 100 ms
        const char* command;
        std::vector<Arrival> after;
        int clearAtMs;
        const char* left;  // at 1000 ms
    } cases[] = {
        {"a slow router: its answer after the clear", {{"# ", 10}}, "ls env\r\n", {{"ls env\r\n", 101}, {"env\r\n# ", 300}}, 200,
         "env\r\n# "},
        {"an instant router: echo and answer together, still unseen", {{"# ", 10}}, "cat env\r\n",
         {{"cat env\r\nbootloaderVersion 1\r\n# ", 100}}, 150, "bootloaderVersion 1\r\n# "},
        {"an answer arrived and shown before the clear", {}, "cat /mac\r\n", {{"cat /mac\r\n", 100}, {"A 00:11\r\n", 101}},
         180, "A 00:11\r\n"},
        {"output of the command before, still in its 50 ms", {{"old output", 99}}, "x\r\n", {{"new", 120}}, 130, "new"},
        {"a router that does not echo", {}, "cat env\r\n", {{"cat: env: No such file\r\n", 110}}, 200,
         "cat: env: No such file\r\n"},
        {"an echo still arriving", {}, "cat /proc/ticfg/mac\r\n", {{"cat /pro", 100}}, 150, ""},
        {"no answer at all", {{"banner", 0}}, "shell\r\n", {}, 150, ""},
    };
    for (const auto& c : cases) {
        ResponseCapture capture(&fakeClock);
        fakeNow = t0;
        for (const Arrival& a : c.before) arrive(capture, a.bytes, a.atMs);
        capture.sent(c.command, t0 + milliseconds(100));
        for (const Arrival& a : c.after) arrive(capture, a.bytes, a.atMs);
        fakeNow = t0 + milliseconds(c.clearAtMs);
        capture.clear();
        fakeNow = t0 + milliseconds(1000);
        EXPECT_EQ(capture.text(), c.left) << c.what;
    }

    ResponseCapture unsent(&fakeClock);
    arrive(unsent, "banner", 0);
    fakeNow = t0 + milliseconds(20);
    unsent.clear();
    fakeNow = t0 + milliseconds(1000);
    EXPECT_EQ(unsent.text(), "") << "with no command sent, a clear empties the capture";
}

// The login in prompt pacing keeps the banner that came before its user
// name, and the name's echo, but not what an earlier connection left.
TEST(ResponseCapture, AClearBeforeAMomentKeepsAllThatCameAfterIt) {
    ResponseCapture capture(&fakeClock);
    fakeNow = t0;
    arrive(capture, "end of the last connection", 0);
    arrive(capture, "CLI banner\r\nlogin: ", 20);  // still in its 50 ms at the clear
    capture.sent("admin\r\n", t0 + milliseconds(30));
    arrive(capture, "admin\r\nPassword: ", 40);
    fakeNow = t0 + milliseconds(45);
    capture.clearBefore(t0 + milliseconds(10));
    fakeNow = t0 + milliseconds(1000);
    EXPECT_EQ(capture.text(), "CLI banner\r\nlogin: admin\r\nPassword: ");
}

TEST(ResponseCapture, EveryOperationIsAtomic) {
    // Writers hand over whole "<tag>" units while another thread clears; a
    // reader must only ever see whole units, never a torn one.
    ResponseCapture capture;
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            while (!stop) capture.received("<0123456789>", 12, Clock::now() - milliseconds(60));
        });
    threads.emplace_back([&] {
        while (!stop) capture.clear();
    });
    int torn = 0;
    for (int i = 0; i < 2000; ++i) {
        const std::string text = capture.text();
        if (text.size() % 12 != 0) ++torn;
        for (std::size_t k = 0; k + 12 <= text.size(); k += 12)
            if (text.compare(k, 12, "<0123456789>") != 0) ++torn;
        if (capture.find("<0123456789>") > 0 && capture.find("<0123456789>") % 12 != 0) ++torn;
    }
    stop = true;
    for (auto& t : threads) t.join();
    EXPECT_EQ(torn, 0);
}

}  // namespace
}  // namespace vornix

namespace vornix {
namespace {

// A shell on a terminal asks for the cursor after its prompt; that is no
// part of the prompt, and an escape that is not a whole sequence stays.
TEST(PromptText, TerminalControlSequencesAreNoPartOfIt) {
    const struct {
        std::string text, plain;
    } cases[] = {
        {"/proc/ticfg # \x1b[6n", "/proc/ticfg # "},
        {"\x1b[1;32mgreen\x1b[0m # ", "green # "},
        {"# \x1b[", "# \x1b["},
        {"a\x1b" "b", "a\x1b" "b"},
    };
    for (const auto& c : cases) EXPECT_EQ(withoutControlSequences(c.text), c.plain) << c.text;
}

}  // namespace
}  // namespace vornix
