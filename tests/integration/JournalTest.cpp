// The run records as a station leaves them: vornix-cli against the simulated
// router, the journal and transcripts beside setup.ini, a journal that
// cannot be written, and a station killed at any moment of its runs.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <thread>

#include "RouterSim.h"
#include "support/CliRun.h"
#include "support/FtpServer.h"
#include "support/Immutable.h"

namespace vornix {
namespace {

using nlohmann::json;

std::string setupFor(const std::string& address, const std::string& password, const std::string& startMac,
                     const std::string& pacing = "fixed") {
    return "[Environment]\r\nTELNETWAITTIME(ms)=100\r\nPacing=" + pacing + "\r\n[SETUP]\r\nCPE_LAN_IP=" + address +
           "\r\nTelnet Username=station\r\nTelnet Password=" + password + "\r\n[WRITE_MAC]\r\npath=/proc/ticfg/env\r\n"
           "number=1\r\nstart_mac=" + startMac + "\r\n0=ethaddr,lan_mac\r\n[WRITE_ENV]\r\npath=/proc/ticfg/env\r\n"
           "number=1\r\n0=ProductID,VX100\r\n";
}

routersim::Options routerAt(const std::string& address) {
    routersim::Options options;
    options.address = address;
    options.user = "station";
    options.password = "s3cret!";
    options.latencyMs = 20;
    return options;
}

std::vector<json> journal(const std::string& station) {
    std::vector<json> records;
    std::ifstream in(station + "/vornix-journal.jsonl");
    for (std::string line; std::getline(in, line);) records.push_back(json::parse(line));
    return records;
}

// What the transcript says went one way on one connection, unescaped.
std::string stream(const std::string& transcript, const std::string& head) {
    std::string bytes;
    std::istringstream in(transcript);
    for (std::string line; std::getline(in, line);) {
        const std::size_t at = line.find(head);
        if (at == std::string::npos) continue;
        const std::string data = line.substr(at + head.size());
        for (std::size_t i = 0; i < data.size(); ++i) {
            if (data[i] != '\\' || i + 1 == data.size()) {
                bytes += data[i];
                continue;
            }
            const char c = data[++i];
            if (c == 'r') bytes += '\r';
            else if (c == 'n') bytes += '\n';
            else if (c == 't') bytes += '\t';
            else if (c == 'x') {
                bytes += static_cast<char>(std::stoi(data.substr(i + 1, 2), nullptr, 16));
                i += 2;
            } else bytes += c;
        }
    }
    return bytes;
}

std::string replaced(std::string text, const std::string& what, const std::string& with) {
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
    return text;
}

// A station directory whose setup.ini points at a simulated router of its
// own at address, with the password s3cret! and start_mac 00:11:22:00:00:10.
struct MacStation {
    explicit MacStation(const std::string& address) : router(routerAt(address)) {
        std::filesystem::create_directory(station);
        started = router.start();
        dir.write("station/setup.ini", setupFor(address, "s3cret!", "00:11:22:00:00:10"));
    }
    test::TempDir dir;
    const std::string station = dir.file("station");
    routersim::RouterSim router;
    bool started = false;
};

// A good run and one with a wrong password: two records that say what each
// did, two transcripts with both directions and no password, and the
// history shows both.
TEST(Journal, EveryRunLeavesItsRecordAndItsTranscript) {
    MacStation fixture("127.0.0.151");
    ASSERT_TRUE(fixture.started);
    test::TempDir& dir = fixture.dir;
    const std::string& station = fixture.station;
    routersim::RouterSim& router = fixture.router;

    const test::CliResult good = test::runCli(station, "--mac");
    EXPECT_EQ(good.status, 0) << good.out;
    const std::string goodBytes = router.received().at(0);
    std::string setup = test::readAll(station + "/setup.ini");
    dir.write("station/setup.ini", replaced(setup, "Password=s3cret!", "Password=wrong"));
    const test::CliResult bad = test::runCli(station, "--mac");
    EXPECT_EQ(bad.status, 1);

    const std::vector<json> records = journal(station);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0]["router"], "127.0.0.151");
    EXPECT_EQ(records[0]["result"], "succeeded");
    EXPECT_EQ(records[0]["mac"]["startMacBefore"], "00:11:22:00:00:10");
    EXPECT_EQ(records[0]["mac"]["startMacAfter"], "00:11:22:00:00:11");
    EXPECT_EQ(records[0]["mac"]["addresses"][1],
              (json{{"name", "lan_mac"}, {"written", "00:11:22:00:00:10"}, {"readBack", "00:11:22:00:00:10"}}));
    EXPECT_EQ(records[0]["mac"]["environment"][0], (json{{"name", "ProductID"}, {"value", "VX100"}}));
    EXPECT_EQ(records[1]["result"], "failed");
    EXPECT_EQ(records[1]["stages"]["mac"]["failure"], "Can't login the router");
    EXPECT_EQ(records[1]["log"].back(), "Can't login the router");

    for (const json& record : records) {
        const std::string transcript = test::readAll(station + "/" + record["transcript"].get<std::string>());
        EXPECT_NE(transcript.find("] #1 -> "), std::string::npos);
        EXPECT_NE(transcript.find("] #1 <- "), std::string::npos);
        EXPECT_EQ(transcript.find("s3cret!"), std::string::npos) << "the password stays out of the records";
    }
    EXPECT_EQ(test::readAll(station + "/vornix-journal.jsonl").find("s3cret!"), std::string::npos);

    // The exact bytes the router received on the first connection, but the password.
    const std::string transcript = test::readAll(station + "/" + records[0]["transcript"].get<std::string>());
    EXPECT_EQ(stream(transcript, "] #1 -> "), replaced(goodBytes, "s3cret!", "***"));

    const test::CliResult history = test::runCli(station, "--history");
    EXPECT_NE(history.out.find("127.0.0.151        mac                  succeeded  00:11:22:00:00:10\n"), std::string::npos)
        << history.out;
    EXPECT_NE(history.out.find("127.0.0.151        mac                  failed     -\n"), std::string::npos) << history.out;
}

// A journal that cannot be written fails the run, after the router's work:
// nothing is undone and start_mac stays advanced.
TEST(Journal, ARecordThatCannotBeWrittenFailsTheRun) {
    MacStation fixture("127.0.0.152");
    ASSERT_TRUE(fixture.started);
    test::TempDir& dir = fixture.dir;
    const std::string& station = fixture.station;
    dir.write("station/vornix-journal.jsonl", "");
    ASSERT_TRUE(test::setImmutable(station + "/vornix-journal.jsonl", true)) << "no immutable files here";
    const test::CliResult run = test::runCli(station, "--mac");
    test::setImmutable(station + "/vornix-journal.jsonl", false);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("Verify OK : ProductID = \"VX100\"\n---------------------\n\n"
                           "Can't write the run journal: Operation not permitted\n"),
              std::string::npos)
        << run.out;
    EXPECT_NE(test::readAll(station + "/setup.ini").find("start_mac=00:11:22:00:00:11"), std::string::npos);

    // A station directory nothing can be written in: the records of a run
    // that only looks for the router.
    const std::string locked = dir.file("locked");
    std::filesystem::create_directory(locked);
    dir.write("locked/setup.ini", "[SETUP]\r\nCPE_LAN_IP=127.0.0.152\r\n");
    ASSERT_TRUE(test::setImmutable(locked, true));
    const test::CliResult found = test::runCli(locked, "");
    test::setImmutable(locked, false);
    EXPECT_EQ(found.status, 1);
    EXPECT_EQ(found.out, "Found 127.0.0.152\nCan't write the run journal: Operation not permitted\n");
}

// A transcript that cannot be written fails the run, and the journal's
// record says so: its result is the one vornix-cli exits with.
TEST(Journal, ATranscriptThatCannotBeWrittenFailsTheRunAndItsRecord) {
    test::TempDir dir;
    const std::string station = dir.file("station");
    std::filesystem::create_directory(station);
    dir.write("station/setup.ini", "[SETUP]\r\nCPE_LAN_IP=127.0.0.160\r\n");
    dir.write("station/transcripts", "a file where the transcripts' directory would be");
    const test::CliResult run = test::runCli(station, "");
    if (run.err.find("cannot send ICMP echo") != std::string::npos) GTEST_SKIP() << "no ICMP echo here: " << run.err;
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "Found 127.0.0.160\nCan't write the run journal: Not a directory\n");
    const std::vector<json> records = journal(station);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["result"], "failed");
    EXPECT_EQ(records[0]["log"].back(), "Can't write the run journal: Not a directory");
    EXPECT_EQ(records[0]["transcript"], "");
}

std::vector<std::string> filesEndingIn(const std::string& directory, const std::string& suffix) {
    std::vector<std::string> names;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(directory, ignored))
        if (entry.path().extension() == suffix) names.push_back(entry.path().string());
    return names;
}

// vornix-cli killed in the middle of a MAC run: its transcript up to the
// kill, and at the next start of a station in that directory one record
// "interrupted" with what the transcript kept, and never a second. Before
// the kill, another vornix-cli in the same directory leaves the live run alone.
TEST(Journal, AKilledRunIsRecordedAsInterruptedOnceAtTheNextStart) {
    MacStation fixture("127.0.0.160");
    ASSERT_TRUE(fixture.started);
    const std::string& station = fixture.station;
    const pid_t pid = test::startCli(station, "--mac");
    // Killed once it has written an address to the router.
    std::string open;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        const std::vector<std::string> live = filesEndingIn(station + "/transcripts", ".open");
        if (live.size() == 1 && test::readAll(live[0]).find("note: mac written lan_mac") != std::string::npos) {
            open = live[0];
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_NE(open, "") << "the run never wrote its addresses";

    const test::CliResult whileLive = test::runCli(station, "--history --json");
    EXPECT_EQ(whileLive.status, 0);
    EXPECT_EQ(whileLive.out, "") << "a live run is not taken for a killed one";
    EXPECT_TRUE(std::filesystem::exists(open));

    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    for (int start = 0; start < 2; ++start) {
        const test::CliResult history = test::runCli(station, "--history");
        // Which stages were ticked dies with the process.
        EXPECT_NE(history.out.find("127.0.0.160        -                    interrupted  00:11:22:00:00:10"),
                  std::string::npos)
            << history.out;
        const std::vector<json> records = journal(station);
        ASSERT_EQ(records.size(), 1u) << "start " << start;
        EXPECT_EQ(records[0]["result"], "interrupted");
        EXPECT_EQ(records[0]["router"], "127.0.0.160");
        EXPECT_EQ(records[0]["mac"]["startMacBefore"], "00:11:22:00:00:10");
        EXPECT_EQ(records[0]["mac"]["addresses"][1]["name"], "lan_mac");
        EXPECT_EQ(records[0]["log"][0], "Found 127.0.0.160");
        // The block may be on that router: spent, and start_mac moved past it once.
        EXPECT_EQ(records[0]["spentBlock"], json({{"first", "00:11:22:00:00:10"}, {"count", 1}}));
        const std::string moved = "vornix: start_mac moved from 00:11:22:00:00:10 to 00:11:22:00:00:11: the "
                                  "interrupted run " + records[0]["run"].get<std::string>() +
                                  " had begun writing that block to its router\n";
        EXPECT_EQ(history.err.find(moved) != std::string::npos, start == 0) << history.err;
        EXPECT_NE(test::readAll(station + "/setup.ini").find("start_mac=00:11:22:00:00:11\r\n"), std::string::npos);
        // The run went on while the live check ran: its log up to the kill.
        const json& log = records[0]["log"];
        EXPECT_NE(std::find(log.begin(), log.end(), "Writing lan_mac = \"00:11:22:00:00:10\""), log.end()) << log;
        const std::string transcript = test::readAll(station + "/" + records[0]["transcript"].get<std::string>());
        EXPECT_NE(transcript.find("] #1 -> echo lan_mac 00:11:22:00:00:10"), std::string::npos) << transcript;
        EXPECT_EQ(transcript.find("s3cret!"), std::string::npos);
    }
    EXPECT_TRUE(filesEndingIn(station + "/transcripts", ".open").empty());

    // Transcripts that tell of no run (killed before the name, a heading cut
    // short) are removed; a heading that names no run is still a killed run's.
    const std::string done = station + "/" + journal(station)[0]["transcript"].get<std::string>();
    const std::string heading = test::readAll(done).substr(0, test::readAll(done).find('\n') + 1);
    std::ofstream(station + "/transcripts/unnamed.open.new") << heading;
    std::ofstream(station + "/transcripts/empty.open.new");
    std::ofstream(station + "/transcripts/torn.open") << heading.substr(0, heading.size() / 2);
    std::ofstream(station + "/transcripts/corrupt.open") << "vornix transcript {\"run\": 12\n[  5 ms] log: Found\n";
    const test::CliResult start = test::runCli(station, "--history");
    for (const char* removed : {"unnamed.open.new: its run was killed before it sent anything",
                                "empty.open.new: its run was killed before it sent anything",
                                "torn.open: its heading is incomplete, it tells of no run"})
        EXPECT_NE(start.err.find(std::string("vornix: removed the transcript ") + removed + "\n"), std::string::npos)
            << start.err;
    const std::vector<json> records = journal(station);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1]["run"], "corrupt");
    EXPECT_EQ(records[1]["result"], "interrupted");
    EXPECT_EQ(records[1]["interruption"], "the transcript's heading is corrupt");
    EXPECT_EQ(records[1]["transcript"], "transcripts/corrupt.log");
    std::vector<std::string> left;
    for (const auto& file : std::filesystem::directory_iterator(station + "/transcripts"))
        if (file.path().extension() != ".log") left.push_back(file.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>());
}

// A station killed between making its transcript and writing its heading
// (held there by the test's hook): the file, never named, went with its
// process, so the next start finds nothing, and the router was never reached.
TEST(Journal, AStationKilledBeforeItsTranscriptsHeadingLeavesNothingBehind) {
    MacStation fixture("127.0.0.159");
    ASSERT_TRUE(fixture.started);
    const std::string& station = fixture.station;
    const std::string gate = fixture.dir.file("gate");
    ::setenv("VORNIX_TEST_HOLD_BEFORE_HEADING", gate.c_str(), 1);
    const pid_t pid = test::startCli(station, "--mac");
    ::unsetenv("VORNIX_TEST_HOLD_BEFORE_HEADING");
    for (int i = 0; i < 6000 && !std::filesystem::exists(gate + ".held"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    ASSERT_TRUE(std::filesystem::exists(gate + ".held")) << "the transcript was never begun";

    const test::CliResult next = test::runCli(station, "--history");
    EXPECT_EQ(next.err.find("transcript"), std::string::npos) << next.err;
    EXPECT_TRUE(std::filesystem::is_empty(station + "/transcripts"));
    EXPECT_FALSE(std::filesystem::exists(station + "/vornix-journal.jsonl"));
    EXPECT_TRUE(fixture.router.received().empty());
}

// The boot stage's record: the versions expected and found, the image's
// bytes on the server and on the router, and the failure line of a boot
// loader that did not change to the one expected.
TEST(Journal, TheBootStagesRecordNamesTheVersions) {
    test::TempDir dir;
    const std::string station = dir.file("station");
    std::filesystem::create_directory(station);
    dir.write("u-boot.bin", "image\nBOOTVERSION=1.2.3\n");
    test::FtpServer ftp("127.0.0.158", 21, "station", "ftp-pass", dir.file(""));
    ASSERT_TRUE(ftp.ready()) << "no FTP server (python3-pyftpdlib, installed by scripts/install-deps)";
    routersim::Options options = routerAt("127.0.0.157");
    // Back at once: loopback answers the echo at once too, so a router that
    // refused telnet for a moment would race the station's next connection.
    options.rebootMs = 0;
    routersim::RouterSim router(options);
    ASSERT_TRUE(router.start());
    // One [SETUP] section: the first of two with one name is the one read.
    auto setup = [&](const std::string& version) {
        dir.write("station/setup.ini",
                  "[Environment]\r\nTELNETWAITTIME(ms)=100\r\nPacing=prompt\r\nTempDirectory=/var/tmp\r\n[SETUP]\r\n"
                  "CPE_LAN_IP=127.0.0.157\r\nTelnet Username=station\r\nTelnet Password=s3cret!\r\nPC_IP=127.0.0.158\r\n"
                  "PC_FTP_ID=station\r\nPC_FTP_PWD=ftp-pass\r\nBOOTCODE=u-boot.bin\r\nBOOT_PARTITION=/dev/mtdblock0\r\n"
                  "TIME2BOOTCOPY(ms)=100\r\nTIME2WAITBOOT(ms)=1000\r\nENV_PATH=/proc/ticfg/env\r\nBOOTVERSION=" +
                      version + "\r\nBOOTCODENAME=BUILD_VERSION\r\n");
    };
    setup("1.2.3");
    EXPECT_EQ(test::runCli(station, "--boot").status, 0);
    setup("9.9.9");
    EXPECT_EQ(test::runCli(station, "--boot").status, 1);
    const std::vector<json> records = journal(station);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0]["ticked"], json::array({"boot"}));
    EXPECT_EQ(records[0]["boot"],
              (json{{"expected", "1.2.3"}, {"found", "1.2.3"}, {"imageBytes", 24}, {"arrivedBytes", 24}}));
    EXPECT_EQ(records[0]["stages"]["boot"]["result"], "succeeded");
    EXPECT_EQ(records[1]["boot"],
              (json{{"expected", "9.9.9"}, {"found", "1.2.3"}, {"imageBytes", 24}, {"arrivedBytes", 24}}));
    EXPECT_EQ(records[1]["stages"]["boot"]["failure"], "BUILD_VERSION = 1.2.3 != 9.9.9");
    for (const json& record : records)
        EXPECT_EQ(record.dump().find("ftp-pass"), std::string::npos) << "the FTP password stays out of the journal";
}

// Stations killed at random moments of their MAC runs: every line of the
// journal but a torn last one is a whole record, and the next run appends
// a whole record on a line of its own.
TEST(JournalSoak, KilledStationsLeaveEveryEarlierRecordReadable) {
    constexpr int stations = 4, killsEach = 25;
    std::vector<std::thread> threads;
    std::vector<std::string> problems(stations);
    test::TempDir dir;
    for (int s = 0; s < stations; ++s) {
        threads.emplace_back([&, s] {
            const std::string address = "127.0.0." + std::to_string(153 + s);
            const std::string station = dir.file("station" + std::to_string(s));
            std::filesystem::create_directory(station);
            routersim::Options options = routerAt(address);
            options.latencyMs = 0;
            routersim::RouterSim router(options);
            if (!router.start()) {
                problems[s] = "no router on " + address;
                return;
            }
            // Prompt pacing: a run takes under a second against this router.
            std::ofstream(station + "/setup.ini", std::ios::binary)
                << setupFor(address, "s3cret!", "00:11:22:00:00:10", "prompt");
            std::mt19937 random(static_cast<unsigned>(s * 7919 + 1));
            // One whole run first: how long a run takes on this machine now.
            const auto began = std::chrono::steady_clock::now();
            int status = 0;
            ::waitpid(test::startCli(station, "--mac"), &status, 0);
            const unsigned runMs = static_cast<unsigned>(
                std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - began).count());
            for (int k = 0; k < killsEach; ++k) {
                const pid_t pid = test::startCli(station, "--mac");
                // Anywhere in a run, or around its end, where the record is written.
                const unsigned at = k % 2 ? random() % (runMs + 1) : runMs * 4 / 5 + random() % (runMs * 2 / 5 + 1);
                std::this_thread::sleep_for(std::chrono::milliseconds(at));
                ::kill(pid, SIGKILL);
                ::waitpid(pid, nullptr, 0);
            }
            std::ifstream in(station + "/vornix-journal.jsonl");
            std::vector<std::string> lines;
            for (std::string line; std::getline(in, line);) lines.push_back(line);
            for (std::size_t i = 0; i + 1 < lines.size(); ++i)
                if (!json::accept(lines[i])) problems[s] += "line " + std::to_string(i + 1) + " is not a record; ";

            // As a kill in the middle of the record's write would leave it.
            std::ofstream(station + "/vornix-journal.jsonl", std::ios::app) << "{\"format\":1,\"run\":\"torn";
            const std::size_t before = lines.size() + 1;
            ::waitpid(test::startCli(station, "--mac"), &status, 0);
            std::ifstream again(station + "/vornix-journal.jsonl");
            lines.clear();
            for (std::string line; std::getline(again, line);) lines.push_back(line);
            // Its start may first record the last killed run as interrupted.
            const bool interrupted = lines.size() == before + 2 && json::accept(lines[before]) &&
                                     json::parse(lines[before])["result"] == "interrupted";
            if ((lines.size() != before + 1 && !interrupted) || !json::accept(lines.back()) ||
                json::parse(lines.back())["result"] != "succeeded" || json::accept(lines[before - 1]))
                problems[s] += "the next run did not append a whole record on a line of its own; ";

            // Every transcript a run left has exactly one record, however its run ended.
            std::multiset<std::string> named;
            for (const std::string& line : lines)
                if (json::accept(line) && !json::parse(line)["transcript"].get<std::string>().empty())
                    named.insert(json::parse(line)["transcript"].get<std::string>());
            std::multiset<std::string> kept;
            for (const auto& entry : std::filesystem::directory_iterator(station + "/transcripts"))
                if (entry.path().extension() == ".log" || entry.path().extension() == ".open")
                    kept.insert("transcripts/" + entry.path().filename().string());
            if (named != kept) problems[s] += "transcripts and records do not pair up one to one; ";
        });
    }
    for (auto& t : threads) t.join();
    for (int s = 0; s < stations; ++s) EXPECT_EQ(problems[s], "") << "station " << s;
}

}  // namespace
}  // namespace vornix
