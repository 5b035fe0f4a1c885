// The boot stage's wait for the rebooted router (scripted echo, recorded
// pauses: nothing is waited for), its reading of the version and of the
// image's size on the router.
#include <gtest/gtest.h>

#include <set>

#include "config/IniProfile.h"
#include "procedures/BootUpdater.h"
#include "support/RecordingConsole.h"
#include "support/RecordingPause.h"
#include "support/TempDir.h"

namespace vornix {
namespace {

bool noReplace(const std::string&, const std::string&) { return false; }

// Answers exactly the echoes whose number (from 1) is in the set.
struct CountingEcho : EchoPort {
    std::set<int> answered;
    int calls = 0;
    bool load() override { return true; }
    EchoReply echo(const std::string&, int, int, const std::string& payload) override {
        return answered.count(++calls) ? EchoReply{true, 1, 0, payload} : EchoReply{};
    }
    void flushArp() override {}
};

struct Waiting {
    test::TempDir dir;
    IniProfile profile{dir.file("setup.ini"), &noReplace};
    test::RecordingConsole console;
    RunFlags flags;
    test::RecordingPause pause;
    StationContext context{console, profile, dir.file("setup.ini"), 500, flags, pause};
    CountingEcho echo;
    int wait(int ms) { return BootUpdater(context, echo).waitForRouter("192.168.1.1", ms); }
};

std::vector<std::string> tries(int last) {
    std::vector<std::string> lines;
    for (int k = 0; k <= last; ++k) lines.push_back("Try to ping the router, " + std::to_string(k) + " times");
    return lines;
}

TEST(BootUpdaterWait, AnswerWithinTheFirstWaitLogsNothingAndStillChecks) {
    Waiting w;
    w.echo.answered = {1, 2};
    EXPECT_EQ(w.wait(3000), 1);
    EXPECT_TRUE(w.console.log().empty());
    EXPECT_EQ(w.echo.calls, 2) << "one echo for the wait, one for the final check";
}

TEST(BootUpdaterWait, AnswerAtTheFourthRetry) {
    Waiting w;
    // 30 echoes for 3000 ms, then ten per retry: the fourth retry's first echo is 61.
    w.echo.answered = {61, 62};
    EXPECT_EQ(w.wait(3000), 1);
    EXPECT_EQ(w.console.log(), tries(2));
    EXPECT_EQ(w.echo.calls, 62);
}

TEST(BootUpdaterWait, NoAnswerAtAnyRetryTheFinalCheckDecides) {
    Waiting answers;
    answers.echo.answered = {131};  // 30 + 10 x 10 failures, then the final check
    EXPECT_EQ(answers.wait(3000), 1);
    EXPECT_EQ(answers.console.log(), tries(9));

    Waiting silent;
    EXPECT_EQ(silent.wait(3000), 0);
    EXPECT_EQ(silent.console.log(), tries(9));
    EXPECT_EQ(silent.echo.calls, 30 + 100 + 5);
    int pauses = 0;
    for (int p : silent.pause.pauses()) pauses += p == 100;
    EXPECT_EQ(pauses, 135) << "100 ms after every failed echo";
}

TEST(BootUpdaterVersion, ReadFromTheNamesOwnLinePastAtMostThirtySpaces) {
    const struct {
        const char* what;
        std::string text;
        std::optional<std::string> found;
    } cases[] = {
        {"three spaces and a longer version", "BUILD_VERSION   1.2.3-rc4\nmore", "1.2.3"},
        {"no blank after the name: a longer name", "BUILD_VERSION1.2.3", std::nullopt},
        {"tab", "BUILD_VERSION\t1.2.3", "\t1.2."},
        {"equals sign", "BUILD_VERSION=1.2.3", "=1.2."},
        {"thirty spaces", "BUILD_VERSION" + std::string(30, ' ') + "1.2.3", "1.2.3"},
        {"thirty-one spaces", "BUILD_VERSION" + std::string(31, ' ') + "1.2.3", " 1.2."},
        {"capture ends after the name", "BUILD_VERSION", std::nullopt},
        {"capture ends within the version", "BUILD_VERSION  1.2", "1.2"},
        {"the version ends with its line", "BUILD_VERSION 1.2\r\n3", "1.2"},
        {"blanks before the name", " \tBUILD_VERSION 1.2.3", "1.2.3"},
        {"first line of its own counts", "BUILD_VERSION 0.9.0\nBUILD_VERSION 1.2.3", "0.9.0"},
        {"inside another line", "OLD_BUILD_VERSION 0.9.0\rx BUILD_VERSION 0.9.1\nBUILD_VERSION 1.2.3", "1.2.3"},
        {"name absent", "bootloaderVersion 1.2.3", std::nullopt},
        {"case-sensitive name", "build_version 1.2.3", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(BootUpdater::foundVersion(c.text, "BUILD_VERSION", 5), c.found) << c.what;
}

TEST(BootUpdaterImageSize, OnlyTheWholeLineOfWcAboutTheImageCounts) {
    using S = BootUpdater::SizeOnRouter;
    const std::string path = "/var/tmp/u-boot.bin";
    const struct {
        const char* what;
        std::string answer;
        S::State state;
        std::uint64_t bytes;
    } cases[] = {
        {"the count", "65536 /var/tmp/u-boot.bin\r\n/var/tmp # ", S::known, 65536},
        {"after the echo", "wc -c /var/tmp/u-boot.bin\r\n65536 /var/tmp/u-boot.bin\r\n", S::known, 65536},
        {"blanks before it", "   65536 /var/tmp/u-boot.bin\n", S::known, 65536},
        {"typed ahead of a download that failed",
         "wc -c /var/tmp/u-boot.bin\r\nu-boot.bin  45% |**    | 30000  0:00:01 ETA\rwget: connection closed "
         "prematurely\r\n/var/tmp # wc -c /var/tmp/u-boot.bin\r\n30000 /var/tmp/u-boot.bin\r\n",
         S::known, 30000},
        {"no such file", "wc: /var/tmp/u-boot.bin: No such file or directory\r\n", S::known, 0},
        {"the line still arriving", "65536 /var/tmp/u-boot.bin", S::pending, 0},
        {"another file's count", "65536 /var/tmp/u-boot.bin.old\r\n", S::pending, 0},
        {"twenty digits", "12345678901234567890 /var/tmp/u-boot.bin\r\n", S::pending, 0},
        {"wc's other complaint first", "wc: /var/tmp/u-boot.bin: Is a directory\r\n0 /var/tmp/u-boot.bin\r\n",
         S::unreadable, 0},
        {"no wc", "sh: wc: not found\r\n/var/tmp # ", S::unreadable, 0},
    };
    for (const auto& c : cases) {
        const S size = BootUpdater::sizeOnRouter(c.answer, path);
        EXPECT_EQ(size.state, c.state) << c.what;
        EXPECT_EQ(size.bytes, c.bytes) << c.what;
    }
}

}  // namespace
}  // namespace vornix
