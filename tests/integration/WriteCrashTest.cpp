// The start_mac write-back is killed at random moments, again and again: the
// file must always be complete and hold either the old or the new address.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <signal.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "config/IniDocument.h"
#include "platform/posix/PosixProfile.h"
#include "support/CrashImage.h"
#include "support/TempDir.h"

namespace vornix {
namespace {

using test::macFor;

std::string image(int n) { return test::crashImage(n); }

pid_t startWriter(const std::string& path, int next) {
    const pid_t pid = fork();
    if (pid == 0) {
        platform::PosixProfile profile(path);
        _exit(profile.write("WRITE_MAC", "start_mac", macFor(next)) ? 0 : 1);
    }
    return pid;
}

// The outcome a kill leaves, read back; fails unless it is the old or the new file.
int outcome(const std::string& path, int current) {
    const std::string bytes = test::readAll(path);
    if (bytes == image(current + 1)) return current + 1;
    EXPECT_EQ(bytes, image(current)) << "the file is neither the old nor the new one";
    EXPECT_EQ(IniDocument(bytes).find("WRITE_MAC", "start_mac"), macFor(current));
    return current;
}

// Kills at random moments: whatever a kill interrupts, the file is whole.
TEST(WriteCrash, AKilledWriterLeavesTheOldOrTheNewFileComplete) {
    test::TempDir dir;
    const std::string path = dir.write("setup.ini", image(0));

    // One undisturbed write tells how long a write takes here.
    const auto started = std::chrono::steady_clock::now();
    int status = 0;
    ASSERT_EQ(waitpid(startWriter(path, 1), &status, 0) > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0, true);
    const auto writeTime = std::chrono::steady_clock::now() - started;
    ASSERT_EQ(test::readAll(path), image(1));

    std::mt19937 random(20261208);
    const auto span = std::chrono::duration_cast<std::chrono::microseconds>(writeTime).count() * 3 / 2 + 1;
    std::uniform_int_distribution<long long> delay(0, span);

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    const int kills = 25;  // each fork of a sanitized process is slow; the plain build runs the full count
#else
    const int kills = 250;
#endif
    int current = 1, killedEarly = 0, advanced = 0;
    for (int round = 0; round < kills && !HasFailure(); ++round) {
        const pid_t pid = startWriter(path, current + 1);
        ASSERT_GT(pid, 0);
        std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
        kill(pid, SIGKILL);
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        if (WIFSIGNALED(status)) ++killedEarly;
        const int now = outcome(path, current);
        advanced += now - current;
        current = now;
    }
    // Where the kills land depends on this machine's speed: the counts are
    // told, the moments that matter are held for below.
    std::printf("[ crash    ] %d kills, %d before the writer finished, %d writes completed\n", kills, killedEarly,
                advanced);
    RecordProperty("kills", kills);
    RecordProperty("killed_before_finishing", killedEarly);
}

// Kills at the two moments that matter, held there: before the rename the
// old file stays whole, after it the new one is there whole; a temporary file
// left by a kill does not stop the next write.
TEST(WriteCrash, AWriterKilledBeforeOrAfterItsRenameLeavesAWholeFile) {
    test::TempDir dir;
    const std::string path = dir.write("setup.ini", image(0));
    struct Moment {
        const char* hold;
        int expected;
    };
    int current = 0;
    for (const Moment moment : {Moment{"VORNIX_TEST_HOLD_BEFORE_RENAME", 0}, Moment{"VORNIX_TEST_HOLD_AFTER_RENAME", 1}}) {
        SCOPED_TRACE(moment.hold);
        const std::string gate = dir.file(moment.hold);
        ::setenv(moment.hold, gate.c_str(), 1);
        const pid_t pid = startWriter(path, current + 1);
        ::unsetenv(moment.hold);
        ASSERT_GT(pid, 0);
        for (int i = 0; i < 60000 && ::access((gate + ".held").c_str(), F_OK) != 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        kill(pid, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the writer was not held";
        current = outcome(path, current);
        EXPECT_EQ(current, moment.expected);
        if (moment.expected == 0) {
            EXPECT_EQ(::access((path + ".vornix-tmp").c_str(), F_OK), 0) << "no temporary file left";
        }
    }
    platform::PosixProfile profile(path);
    ASSERT_TRUE(profile.write("WRITE_MAC", "start_mac", macFor(current + 1)));
    EXPECT_EQ(test::readAll(path), image(current + 1));
}

}  // namespace
}  // namespace vornix
