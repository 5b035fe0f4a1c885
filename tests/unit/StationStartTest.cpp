#include <gtest/gtest.h>

#include <cstdio>
#include <thread>
#include <vector>

#include "app/HeadlessConsole.h"
#include "config/IniProfile.h"
#include "station/StationStart.h"
#include "support/TempDir.h"

namespace vornix {
namespace {

bool noReplace(const std::string&, const std::string&) { return false; }

std::optional<StationSettings> startIn(const std::string& directory, StartRefusal* why = nullptr) {
    return fixStationSettings(std::optional<std::string>(directory), '/', [](const std::string& path) {
        return std::make_unique<IniProfile>(path, &noReplace);
    }, why);
}

TEST(StationStart, TelnetWaitFollowsTheStartUpRules) {
    test::TempDir dir;
    const std::string directory = dir.file("");
    const std::string base = directory.substr(0, directory.size() - 1);  // without the trailing separator
    EXPECT_EQ(startIn(base)->telnetWait, 500) << "no setup.ini";
    const struct {
        const char* value;
        int wait;
    } cases[] = {{"250ms", 250}, {"", 0}, {"ms250", 0}, {"  750", 750}, {"-5", -5}, {"NULL", 0}};
    for (const auto& c : cases) {
        dir.write("setup.ini", std::string("[Environment]\r\nTELNETWAITTIME(ms)=") + c.value + "\r\n");
        EXPECT_EQ(startIn(base)->telnetWait, c.wait) << c.value;
    }
    dir.write("setup.ini", "[SETUP]\r\nCPE_LAN_IP=1.2.3.4\r\n");
    EXPECT_EQ(startIn(base)->telnetWait, 500) << "key absent";
}

TEST(StationStart, ConfigPathIsTheCurrentDirectoryNotTheProgramsOne) {
    test::TempDir dir;
    const std::string one = dir.file("one"), two = dir.file("two");
    EXPECT_EQ(startIn(one)->configPath, one + "/setup.ini");
    EXPECT_EQ(startIn(two)->configPath, two + "/setup.ini");
    StartRefusal why{};
    EXPECT_FALSE(startIn(std::string(250, 'd'), &why).has_value()) << "a path over 259 characters is refused";
    EXPECT_EQ(why, StartRefusal::PathTooLong);
    EXPECT_FALSE(fixStationSettings(std::nullopt, '/', [](const std::string& p) { return std::make_unique<IniProfile>(p, &noReplace); }, &why));
    EXPECT_EQ(why, StartRefusal::NoCurrentDirectory);
}

TEST(HeadlessConsole, OneOutputLinePerLogLine) {
    EXPECT_EQ(HeadlessConsole::outputLine("Found 192.168.1.1"), "Found 192.168.1.1\n");
    EXPECT_EQ(HeadlessConsole::outputLine("cp /var/tmp/u-boot.bin /dev/mtdblock0\r\n"),
              "cp /var/tmp/u-boot.bin /dev/mtdblock0\\r\\n\n");
    EXPECT_EQ(HeadlessConsole::outputLine(""), "\n");
    EXPECT_EQ(HeadlessConsole::outputLine("\\7200\\script.txt"), "\\7200\\script.txt\n");
}

TEST(HeadlessConsole, LinesFromManyThreadsArriveWholeAndInOrder) {
    test::TempDir dir;
    const std::string path = dir.file("log.txt");
    std::FILE* out = std::fopen(path.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    HeadlessConsole console(out, true, false, false);
    const int threads = 8, lines = 300;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&, t] {
            for (int i = 0; i < lines; ++i)
                console.appendLog("thread " + std::to_string(t) + " line " + std::to_string(i) + " " +
                                  std::string(static_cast<std::size_t>(i % 97), 'x'));
        });
    for (auto& w : workers) w.join();
    std::fclose(out);

    std::vector<int> next(threads, 0);
    int total = 0;
    std::string text = test::readAll(path);
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = text.find('\n', start);
        ASSERT_NE(end, std::string::npos);
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        int t = -1, i = -1;
        ASSERT_EQ(std::sscanf(line.c_str(), "thread %d line %d", &t, &i), 2) << line;
        ASSERT_TRUE(t >= 0 && t < threads);
        EXPECT_EQ(i, next[t]++) << "thread " << t << " out of order";
        EXPECT_EQ(line, "thread " + std::to_string(t) + " line " + std::to_string(i) + " " +
                            std::string(static_cast<std::size_t>(i % 97), 'x'));
        ++total;
    }
    EXPECT_EQ(total, threads * lines);

    EXPECT_TRUE(console.stageChosen(Stage::MacWriting));
    EXPECT_FALSE(console.stageChosen(Stage::BootUpdate));
}

TEST(HeadlessConsole, ScratchListKeepsInsertionOrderAndWholeItems) {
    HeadlessConsole console(stdout, false, false, false);
    console.appendScratch("zeta");
    console.appendScratch(std::string(5000, 'a'));
    console.appendScratch("alpha");
    EXPECT_EQ(console.scratchCount(), 3);
    EXPECT_EQ(console.scratchItem(0), "zeta");
    EXPECT_EQ(console.scratchItem(1), std::string(5000, 'a'));
    EXPECT_EQ(console.scratchItem(2), "alpha");
    EXPECT_EQ(console.scratchItem(3), "");
    EXPECT_EQ(console.scratchItem(-1), "");
    console.clearScratch();
    EXPECT_EQ(console.scratchCount(), 0);
}

}  // namespace
}  // namespace vornix
