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
    for (int round = 0; round < kills; ++round) {
        const pid_t pid = startWriter(path, current + 1);
        ASSERT_GT(pid, 0);
        std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
        kill(pid, SIGKILL);
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        if (WIFSIGNALED(status)) ++killedEarly;

        const std::string bytes = test::readAll(path);
        if (bytes == image(current + 1)) {
            ++current;
            ++advanced;
        } else {
            ASSERT_EQ(bytes, image(current)) << "round " << round << ": the file is neither the old nor the new one";
        }
        ASSERT_EQ(IniDocument(bytes).find("WRITE_MAC", "start_mac"), macFor(current));
    }
    std::printf("[ crash    ] %d kills, %d before the writer finished, %d writes completed\n", kills, killedEarly,
                advanced);
    RecordProperty("kills", kills);
    RecordProperty("killed_before_finishing", killedEarly);
    // A test whose kills all come too late proves nothing.
    EXPECT_GT(killedEarly, kills / 10);
    EXPECT_GT(advanced, 0);

    // A temporary file left by a kill does not stop the next write.
    platform::PosixProfile profile(path);
    ASSERT_TRUE(profile.write("WRITE_MAC", "start_mac", macFor(current + 1)));
    EXPECT_EQ(test::readAll(path), image(current + 1));
}

}  // namespace
}  // namespace vornix
