// The record files as several processes of a station meet them: a gang's
// ports that append to the journal at once, and a station that starts while
// another makes its transcript. Natively and under Wine; the other processes
// are this program (see main).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <thread>

#include "platform/ChildProcess.h"
#include "platform/CurrentDirectory.h"
#include "platform/FileRecords.h"
#include "records/Journal.h"
#include "records/RunRecords.h"
#include "support/RecordingConsole.h"
#include "support/TempDir.h"

namespace vornix {
namespace {

void setVariable(const char* name, const std::string& value) {
#ifdef _WIN32
    _putenv_s(name, value.c_str());
#else
    ::setenv(name, value.c_str(), 1);
#endif
}

// A file another process makes; false after a minute.
bool awaitFile(const std::string& path) {
    for (int waited = 0; waited < 60000; ++waited) {
        std::error_code unknown;  // not yet known: looked at again
        if (std::filesystem::exists(path, unknown)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

// Writer w's record n, as long as real records are, some longer than others.
std::string recordOf(int writer, int n) {
    return "{\"run\":\"w" + std::to_string(writer) + "-" + std::to_string(n) + "\",\"pad\":\"" +
           std::string(static_cast<std::size_t>(100 + (n * 37 + writer * 101) % 3000), static_cast<char>('a' + writer)) +
           "\"}";
}

// append JOURNAL GATE WRITER COUNT [TURN]: COUNT records, once GATE exists
// ("-": at once), stopped in the first one's turn when TURN is given. Prints
// the longest append in ms.
int appendRecords(const std::vector<std::string>& arguments) {
    if (arguments.size() == 6) setVariable("VORNIX_TEST_HOLD_JOURNAL_TURN", arguments[5]);
    const std::string& gate = arguments[2];
    const int writer = std::stoi(arguments[3]);
    if (gate != "-") {
        std::ofstream(gate + ".ready" + arguments[3]).close();
        if (!awaitFile(gate)) return 2;
    }
    platform::FileRecords files;
    long long longest = 0;
    for (int n = 0; n < std::stoi(arguments[4]); ++n) {
        const auto began = std::chrono::steady_clock::now();
        std::string why;
        if (!files.appendLine(arguments[1], recordOf(writer, n), why)) {
            std::printf("record %d: %s\n", n, why.c_str());
            return 1;
        }
        longest = std::max<long long>(longest, std::chrono::duration_cast<std::chrono::milliseconds>(
                                                   std::chrono::steady_clock::now() - began).count());
    }
    std::printf("longest %lld\n", longest);
    return 0;
}

// create DIRECTORY NAME POINT GATE: a transcript, stopped at POINT.
int createTranscript(const std::vector<std::string>& arguments) {
    setVariable(arguments[3].c_str(), arguments[4]);
    std::string why;
    if (platform::FileRecords().create(arguments[1], arguments[2], "heading\n", why)) return 0;
    std::printf("%s\n", why.c_str());
    return 1;
}

std::unique_ptr<platform::ChildProcess> start(const std::vector<std::string>& arguments) {
    std::string why;
    std::unique_ptr<platform::ChildProcess> child = platform::ChildProcess::start(arguments, why);
    if (!child) ADD_FAILURE() << why;
    return child;
}

// Its output, and its status when not 0.
std::string finish(platform::ChildProcess& child) {
    std::string out;
    for (std::string line; child.readLine(line);) out += line + "\n";
    const platform::ChildProcess::End end = child.wait();
    if (!end.exited || end.status != 0) out += "status " + std::to_string(end.status);
    return out;
}

// Eight ports append 200 records each at once, after a torn line a killed
// process left, while a reader reads the journal's end over and over: each
// record whole on a line of its own, once; the reader never refused.
TEST(JournalWriters, EightProcessesAppendAtOnceEachRecordWholeAndOnce) {
    constexpr int writers = 8, each = 200;
    test::TempDir dir;
    const std::string torn = "{\"run\":\"torn";
    const std::string path = dir.write(journal::fileName, torn);
    const std::string gate = dir.file("go");
    std::map<std::string, int> seen;
    for (int w = 0; w < writers; ++w)
        for (int n = 0; n < each; ++n) seen[recordOf(w, n)] = 0;
    std::vector<std::unique_ptr<platform::ChildProcess>> children;
    for (int w = 0; w < writers; ++w) {
        children.push_back(start({"append", path, gate, std::to_string(w), std::to_string(each)}));
        ASSERT_TRUE(children.back());
    }
    for (int w = 0; w < writers; ++w) ASSERT_TRUE(awaitFile(gate + ".ready" + std::to_string(w)));
    std::ofstream(gate).close();

    const auto began = std::chrono::steady_clock::now();
    std::vector<std::string> ends;
    std::atomic<bool> done{false};
    std::thread waiter([&] {
        for (auto& child : children) ends.push_back(finish(*child));
        done = true;
    });
    int reads = 0, strangers = 0;
    for (std::string why; !done; ++reads) {
        std::vector<std::string> records;
        EXPECT_TRUE(journal::lastRecords(path, 8, records, why)) << why;
        for (const std::string& record : records) strangers += seen.count(record) ? 0 : 1;
    }
    waiter.join();
    const long long tookMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - began).count();
    long long longest = 0;
    for (const std::string& end : ends) {
        EXPECT_EQ(end.rfind("longest ", 0), 0u) << end;
        longest = std::max(longest, std::atoll(end.c_str() + 8));
    }
    EXPECT_EQ(strangers, 0) << "the reader found records no writer wrote";

    std::string text = test::readAll(path);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');
    std::vector<std::string> unknown;
    std::size_t at = 0;
    for (std::size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
        const std::string line = text.substr(at, end - at);
        if (at == 0 && line == torn) continue;
        auto found = seen.find(line);
        if (found == seen.end()) unknown.push_back(line.substr(0, 60));
        else ++found->second;
    }
    EXPECT_EQ(unknown, std::vector<std::string>()) << "lines torn, mixed or empty";
    for (const auto& [record, count] : seen) EXPECT_EQ(count, 1) << record.substr(0, 20);
    std::printf("[ journal  ] %d writers x %d records in %lld ms, longest append %lld ms, %d reads meanwhile\n",
                writers, each, tookMs, longest, reads);
}

// A writer stopped in its turn: another that may not wait fails saying
// why, writing nothing, and a reader still reads; once the first is done,
// the next appends after it.
TEST(JournalWriters, OneInItsTurnKeepsTheOtherWritersOutButNotTheReaders) {
    test::TempDir dir;
    const std::string path = dir.write(journal::fileName, recordOf(0, 0) + "\n");
    const std::string turn = dir.file("turn");
    const auto first = start({"append", path, "-", "1", "1", turn});
    ASSERT_TRUE(first);
    ASSERT_TRUE(awaitFile(turn + ".held"));
    std::vector<std::string> records;
    std::string why;
    EXPECT_TRUE(journal::lastRecords(path, 8, records, why)) << why;
    EXPECT_EQ(records, std::vector<std::string>{recordOf(0, 0)});
    EXPECT_FALSE(platform::FileRecords(std::chrono::milliseconds(0)).appendLine(path, recordOf(2, 0), why));
    EXPECT_EQ(why, "another process has held it for 0 s");

    std::ofstream(turn).close();
    EXPECT_EQ(finish(*first).rfind("longest ", 0), 0u);
    EXPECT_TRUE(platform::FileRecords().appendLine(path, recordOf(2, 0), why)) << why;
    EXPECT_EQ(test::readAll(path), recordOf(0, 0) + "\n" + recordOf(1, 0) + "\n" + recordOf(2, 0) + "\n");
}

std::vector<std::string> filesIn(const std::string& directory) {
    std::vector<std::string> names;
    if (std::filesystem::exists(directory))
        for (const auto& entry : std::filesystem::directory_iterator(directory))
            names.push_back(entry.path().filename().string());
    return names;
}

// A transcript's process stopped as it makes it, before its lock or before
// its heading: a station that starts then leaves it alone, and the run goes
// on. Killed there instead, it leaves nothing once the next station starts.
TEST(Transcripts, OneBeingMadeIsLeftAloneAndAKilledOneLeavesNothing) {
    for (const char* point : {"VORNIX_TEST_HOLD_BEFORE_LOCK", "VORNIX_TEST_HOLD_BEFORE_HEADING"}) {
        for (const bool killed : {false, true}) {
            SCOPED_TRACE(std::string(point) + (killed ? ", killed there" : ""));
            test::TempDir dir;
            const std::string station = dir.file("station");
            const std::string transcripts = (std::filesystem::path(station) / journal::transcriptDirectory).string();
            std::filesystem::create_directory(station);
            const std::string name = "2026-12-08T10-30-00.123Z-10.0.0.1.open";
            const auto maker = start({"create", transcripts, name, point, dir.file("gate")});
            ASSERT_TRUE(maker);
            ASSERT_TRUE(awaitFile(dir.file("gate.held")));
            if (killed) {
                maker->kill();
                maker->wait();
            }
            platform::FileRecords files;
            test::RecordingConsole console;
            RunRecords next(files, station, platform::pathSeparator(), {"st-2", "vornix test"}, console);
            std::vector<std::string> told;
            next.tellOn([&](const std::string& line) { told.push_back(line); });
            next.recoverInterrupted(Secrets(), nullptr);
            if (killed) {
                EXPECT_EQ(filesIn(transcripts), std::vector<std::string>());
            } else {
                EXPECT_EQ(told, std::vector<std::string>());
                std::ofstream(dir.file("gate")).close();
                EXPECT_EQ(finish(*maker), "");
                EXPECT_EQ(filesIn(transcripts), std::vector<std::string>{name});
                EXPECT_EQ(test::readAll(transcripts + "/" + name), "heading\n");
            }
            EXPECT_FALSE(std::filesystem::exists(station + "/" + journal::fileName));
        }
    }
}

}  // namespace
}  // namespace vornix

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments.size() >= 5 && arguments[0] == "append") return vornix::appendRecords(arguments);
    if (arguments.size() == 5 && arguments[0] == "create") return vornix::createTranscript(arguments);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
