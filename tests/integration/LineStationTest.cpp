// Line mode as stations run it: vornix-cli processes against simulated
// routers, their MAC blocks drawn from one pool in a real PostgreSQL server.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <random>
#include <thread>

#include "RouterSim.h"
#include "support/Chromium.h"
#include "support/CliRun.h"
#include "support/ServedView.h"
#include "support/PostgresServer.h"

namespace vornix {
namespace {

using nlohmann::json;

// The server of one test, its tables made and one pool added through the
// set-up commands, as a line does it.
struct Line {
    test::PostgresServer server;
    test::TempDir dir;

    Line(int port, const std::string& first, const std::string& last) : server(port) {
        if (!server.ready()) {
            ADD_FAILURE() << "this test needs PostgreSQL (scripts/install-deps): " << server.failure();
            return;
        }
        const std::string admin = station("admin", "127.0.0.1");
        EXPECT_EQ(test::runCli(admin, "--line-init").status, 0);
        const test::CliResult added = test::runCli(admin, "--pool-add line " + first + " " + last);
        EXPECT_EQ(added.status, 0) << added.err;
    }

    // A station directory whose setup.ini points at the router and the pool;
    // its name in the line is the directory's unless given.
    std::string station(const std::string& name, const std::string& router, std::string lineName = "",
                        const std::string& extra = "") {
        if (lineName.empty()) lineName = name;
        const std::string path = dir.file(name);
        std::filesystem::create_directories(path);
        std::ofstream(path + "/setup.ini", std::ios::binary)
            << "[Environment]\r\nTELNETWAITTIME(ms)=100\r\nPacing=prompt\r\n[SETUP]\r\nCPE_LAN_IP=" << router
            << "\r\nTelnet Username=admin\r\nTelnet Password=admin\r\n[WRITE_MAC]\r\npath=/proc/ticfg/env\r\n"
               "number=2\r\nstart_mac=NULL\r\n0=ethaddr,lan_mac\r\n1=wan_mac\r\n[WRITE_ENV]\r\npath=/proc/ticfg/env\r\n"
               "number=0\r\n[LINE]\r\nDatabase="
            << server.connectionString() << "\r\nPool=line\r\nStation=" << lineName << "\r\n" << extra;
        return path;
    }

    long long number(const std::string& query) { return std::stoll("0" + server.sql(query)); }

    // No address twice, none outside the pool, and every address handed out
    // is on a router or held in a block that is not (yet) on one.
    void expectConsistent(long long first, long long last) {
        EXPECT_EQ(number("SELECT COUNT(*) - COUNT(DISTINCT mac) FROM vornix_assignment"), 0);
        EXPECT_EQ(number("SELECT COUNT(*) FROM vornix_assignment WHERE mac < " + std::to_string(first) +
                         " OR mac > " + std::to_string(last)),
                  0);
        const long long handedOut = number("SELECT next_mac FROM vornix_pool WHERE name = 'line'") - first;
        const long long assigned = number("SELECT COUNT(*) FROM vornix_assignment");
        const long long held = number("SELECT COALESCE(SUM(mac_count), 0) FROM vornix_reservation WHERE state <> 'assigned'");
        EXPECT_EQ(assigned + held, handedOut);
        EXPECT_EQ(number("SELECT COUNT(*) FROM vornix_assignment a JOIN vornix_reservation r ON a.mac BETWEEN "
                         "r.first_mac AND r.first_mac + r.mac_count - 1 WHERE r.state = 'spent'"),
                  0)
            << "a spent address reached another router";
    }
};

routersim::Options routerAt(const std::string& address) {
    routersim::Options options;
    options.address = address;
    options.latencyMs = 0;
    return options;
}

// Four stations, 25 routers each, at the same time, from one pool.
TEST(LineStations, FourStationsShareOnePoolAndNoAddressIsOnTwoRouters) {
    Line line(24340, "00:11:22:00:00:00", "00:11:22:00:01:FF");
    ASSERT_TRUE(line.server.ready());
    std::vector<std::thread> stations;
    std::vector<int> failures(4, 0);
    for (int s = 0; s < 4; ++s)
        stations.emplace_back([&, s] {
            const std::string address = "127.0.0." + std::to_string(161 + s);
            routersim::RouterSim router(routerAt(address));
            if (!router.start()) return void(failures[s] = 100);
            const std::string station = line.station("station" + std::to_string(s), address);
            for (int run = 0; run < 25; ++run)
                if (test::runCli(station, "--mac").status != 0) ++failures[s];
        });
    for (auto& t : stations) t.join();
    EXPECT_EQ(failures, std::vector<int>(4, 0));
    EXPECT_EQ(line.number("SELECT COUNT(*) FROM vornix_assignment"), 4 * 25 * 2);
    EXPECT_EQ(line.number("SELECT COUNT(*) FROM vornix_run"), 4 * 25) << "every run's record is in the database too";
    line.expectConsistent(0x001122000000LL, 0x0011220001FFLL);

    // The line view of one station shows the whole line as the database has it.
    test::ServedView view(line.dir.file("station0"), "127.0.0.173", 18090);
    ASSERT_TRUE(view.ready()) << view.failure();
    const json summary = view.json("/api/summary?span=1h");
    EXPECT_EQ(summary["runs"], line.number("SELECT COUNT(*) FROM vornix_run"));
    EXPECT_EQ(summary["succeeded"],
              line.number("SELECT COUNT(*) FROM vornix_run WHERE CAST(record_text AS json)->>'result' = 'succeeded'"));
    EXPECT_EQ(summary["routers"], line.number("SELECT COUNT(DISTINCT reservation_id) FROM vornix_assignment"));
    ASSERT_EQ(summary["stations"].size(), 4u);
    for (const json& station : summary["stations"])
        EXPECT_EQ(station["runs"], line.number("SELECT COUNT(*) FROM vornix_run WHERE station = '" +
                                               station["station"].get<std::string>() + "'"));
    ASSERT_EQ(summary["pools"].size(), 1u);
    const json& pool_ = summary["pools"][0];
    EXPECT_EQ(pool_["used"], line.number("SELECT COUNT(*) FROM vornix_assignment"));
    EXPECT_EQ(pool_["held"], line.number("SELECT COALESCE(SUM(mac_count), 0) FROM vornix_reservation WHERE state = 'open'"));
    EXPECT_EQ(pool_["free"], 0x0011220001FFLL + 1 - line.number("SELECT next_mac FROM vornix_pool"));
    EXPECT_EQ(pool_["perDay"], 200.0 * 24) << "200 addresses within the hour";

    // And its Line page says the same in a browser.
    if (test::haveChromium()) {
        const std::string page = test::renderedDom(view.url("/?span=1h"));
        ASSERT_NE(page.find("data-loaded=\"1\""), std::string::npos) << page.substr(0, 2000);
        EXPECT_EQ(test::textOf(page, "data-figure=\"runs\""), std::to_string(summary["runs"].get<long long>()));
        EXPECT_EQ(test::textOf(page, "data-figure=\"routers\""), std::to_string(summary["routers"].get<long long>()));
        EXPECT_EQ(test::textOf(page, "data-figure=\"first-pass-yield\""), "100.0%");
        for (const json& station : summary["stations"]) {
            const std::size_t row = page.find("data-station=\"" + station["station"].get<std::string>() + "\"");
            ASSERT_NE(row, std::string::npos);
            EXPECT_EQ(test::field(page, row, "runs"), "25");
            EXPECT_EQ(test::field(page, row, "yield"), "100.0%");
        }
        const std::size_t pool = page.find("data-pool=\"line\"");
        ASSERT_NE(pool, std::string::npos);
        for (const char* figure : {"used", "held", "free"})
            EXPECT_EQ(test::field(page, pool, figure), std::to_string(pool_[figure].get<long long>())) << figure;
    }

    const long long mac = line.number("SELECT MAX(mac) FROM vornix_assignment");
    char dashed[20];
    std::snprintf(dashed, sizeof dashed, "%02llX-%02llX-%02llX-%02llX-%02llX-%02llX", mac >> 40, mac >> 32 & 255,
                  mac >> 24 & 255, mac >> 16 & 255, mac >> 8 & 255, mac & 255);
    const json address = view.json(std::string("/api/address?mac=") + dashed);
    EXPECT_EQ(address["found"], true);
    EXPECT_EQ(address["run"].get<std::string>() + "\n",
              line.server.sql("SELECT run_id FROM vornix_assignment WHERE mac = " + std::to_string(mac)));
    EXPECT_EQ(address["source"], "database");
    EXPECT_EQ(view.json("/api/address?mac=00:11:22:00:0F:FF")["found"], false);

    EXPECT_EQ(view.stop(), 0) << "SIGTERM ends the view as a stop";
}

// A thread that acts once the router has received shown once more than now
// (on any of its connections: a prompt-paced one may be over in a moment).
std::thread afterRouterGot(const routersim::RouterSim& router, const std::string& shown, std::function<void()> action) {
    auto seen = [&router, shown] {
        const auto received = router.received();
        return std::count_if(received.begin(), received.end(),
                             [&](const std::string& r) { return r.find(shown) != std::string::npos; });
    };
    return std::thread([seen, action = std::move(action), before = seen()] {
        for (int i = 0; i < 10000 && seen() == before; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        action();
    });
}

// Every run of the station has exactly one record, killed ones included:
// each transcript is named by one journal record, none is left open, and
// the line's database holds as many records. Empty when so.
std::string oneRecordPerRun(Line& line, const std::string& station, const std::string& name) {
    std::string problems;
    std::map<std::string, int> named;
    int interrupted = 0, records = 0;
    std::ifstream journal(station + "/vornix-journal.jsonl");
    for (std::string text; std::getline(journal, text);) {
        const json record = json::parse(text, nullptr, false);
        if (!record.is_object()) continue;
        ++records;
        ++named[record.value("transcript", "")];
        interrupted += record.value("result", "") == "interrupted";
    }
    for (const auto& file : std::filesystem::directory_iterator(station + "/transcripts")) {
        const std::string transcript = "transcripts/" + file.path().filename().string();
        if (file.path().extension() != ".log") problems += transcript + " left; ";
        else if (named[transcript] != 1) problems += transcript + " has " + std::to_string(named[transcript]) + " records; ";
    }
    if (interrupted == 0) problems += "no killed run was recorded as interrupted; ";
    const long long stored = line.number("SELECT COUNT(*) FROM vornix_run WHERE station = '" + name + "'");
    if (stored != records)
        problems += std::to_string(records) + " records here, " + std::to_string(stored) + " in the database; ";
    return problems;
}

// Stations killed at any moment: still no address twice. A station whose run
// was killed holding a block gets that block for its next router when the
// run never began writing it, and a new one when it had (the block spent).
TEST(LineStationsSoak, KilledStationsNeverHandOutAnAddressTwice) {
    Line line(24341, "00:11:22:00:00:00", "00:11:22:00:0F:FF");
    ASSERT_TRUE(line.server.ready());
    std::vector<std::thread> stations;
    std::vector<std::string> problems(2);
    for (int s = 0; s < 2; ++s)
        stations.emplace_back([&, s] {
            const std::string address = "127.0.0." + std::to_string(165 + s);
            const std::string name = "killed" + std::to_string(s);
            routersim::RouterSim router(routerAt(address));
            if (!router.start()) return void(problems[s] = "no router");
            const std::string station = line.station(name, address);
            std::mt19937 random(static_cast<unsigned>(s + 11));
            for (int k = 0; k < 25; ++k) {
                const pid_t pid = test::startCli(station, "--mac");
                // At any moment, or surely once it writes (a loaded machine
                // may start no run within the random kills' reach).
                if (k % 5 == 2) afterRouterGot(router, "echo ", [pid] { ::kill(pid, SIGKILL); }).join();
                else std::this_thread::sleep_for(std::chrono::milliseconds(random() % 1100));
                ::kill(pid, SIGKILL);
                ::waitpid(pid, nullptr, 0);
            }
            // The block the station holds now, if any, is the next router's
            // unless the killed run had begun writing it.
            const std::string held = line.server.sql("SELECT first_mac FROM vornix_reservation WHERE station = '" +
                                                     name + "' AND state = 'open'");
            const bool written = line.number("SELECT COUNT(*) FROM vornix_reservation WHERE station = '" + name +
                                             "' AND state = 'open' AND written_at IS NOT NULL") > 0;
            if (test::runCli(station, "--mac").status != 0) problems[s] += "the next run failed; ";
            const std::string assigned = line.server.sql(
                "SELECT MIN(mac) FROM vornix_assignment WHERE run_id = (SELECT run_id FROM vornix_assignment WHERE "
                "station = '" + name + "' ORDER BY assigned_at DESC, mac DESC LIMIT 1)");
            if (!held.empty() && !written && held != assigned)
                problems[s] += "held " + held + " but got " + assigned + "; ";
            if (!held.empty() && written && held == assigned) problems[s] += "written block " + held + " reused; ";
            if (!held.empty() && written &&
                line.server.sql("SELECT state FROM vornix_reservation WHERE first_mac = " + held) != "spent\n")
                problems[s] += "written block " + held + " not spent; ";
            problems[s] += oneRecordPerRun(line, station, name);
        });
    for (auto& t : stations) t.join();
    EXPECT_EQ(problems, std::vector<std::string>(2));
    line.expectConsistent(0x001122000000LL, 0x001122000FFFLL);
}

// A database that cannot be reached: nothing is written to the router. One
// that goes away in the middle of a run: the stage fails, the block stays
// held, and the next run gets it.
TEST(LineStations, ADatabaseThatIsDownWritesNothingAndLosesNothing) {
    Line line(24342, "00:11:22:00:00:00", "00:11:22:00:00:FF");
    ASSERT_TRUE(line.server.ready());
    routersim::Options options = routerAt("127.0.0.167");
    routersim::RouterSim router(options);
    ASSERT_TRUE(router.start());
    const std::string station = line.station("station", "127.0.0.167", "", "Timeout=3\r\n");

    ASSERT_TRUE(line.server.stop());
    const test::CliResult down = test::runCli(station, "--mac");
    EXPECT_EQ(down.status, 1);
    EXPECT_NE(down.out.find("-----writing ENV-----\nCan't reach the line database: "), std::string::npos) << down.out;
    EXPECT_EQ(down.out.find(line.server.password), std::string::npos) << "the password is masked";
    ASSERT_EQ(router.received().size(), 1u);
    EXPECT_EQ(router.received()[0].find("echo "), std::string::npos) << "nothing written to the router";

    ASSERT_TRUE(line.server.start());
    // Down once the router has been written and before the block is kept:
    // the run is held at its read-back while the server goes.
    const std::string gate = line.dir.file("verify-gate");
    ::setenv("VORNIX_TEST_HOLD_AT", "Verifying", 1);
    ::setenv("VORNIX_TEST_HOLD_GATE", gate.c_str(), 1);
    std::thread stopper([&] {
        for (int i = 0; i < 60000 && !std::filesystem::exists(gate + ".held"); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        line.server.stop();
        std::ofstream(gate).close();
    });
    const test::CliResult middle = test::runCli(station, "--mac");
    stopper.join();
    ::unsetenv("VORNIX_TEST_HOLD_AT");
    ::unsetenv("VORNIX_TEST_HOLD_GATE");
    EXPECT_EQ(middle.status, 1);
    EXPECT_NE(middle.out.find("Can't write start_mac to the line database: "), std::string::npos) << middle.out;

    // The failed run could not release its block: it stays out until its
    // lease runs out, and the next run takes the next one.
    ASSERT_TRUE(line.server.start());
    EXPECT_EQ(line.number("SELECT COUNT(*) FROM vornix_assignment"), 0);
    const test::CliResult again = test::runCli(station, "--mac");
    EXPECT_EQ(again.status, 0) << again.out;
    EXPECT_NE(again.out.find("Writing ethaddr = \"00:11:22:00:00:02\""), std::string::npos) << again.out;
    line.expectConsistent(0x001122000000LL, 0x0011220000FFLL);
}

// A password that is the computer's name: the run's id carries none of it,
// and names the run alike in the journal, the transcript's heading and the
// line database (the run's record, the block's holder, the addresses).
TEST(LineStations, TheRunIdCarriesNoSecretAndNamesTheRunAlikeEverywhere) {
    Line line(24348, "00:11:22:00:00:00", "00:11:22:00:00:FF");
    ASSERT_TRUE(line.server.ready());
    char host[256] = {};
    ASSERT_EQ(::gethostname(host, sizeof host - 1), 0);
    const std::string password = host;  // the FTP account's: a secret the MAC stage never sends
    routersim::RouterSim router(routerAt("127.0.0.175"));
    ASSERT_TRUE(router.start());
    const std::string station = line.station("named", "127.0.0.175");
    std::string setup = test::readAll(station + "/setup.ini");
    setup.insert(setup.find("Telnet Password="), "PC_FTP_PWD=" + password + "\r\n");
    std::ofstream(station + "/setup.ini", std::ios::binary) << setup;
    const test::CliResult run = test::runCli(station, "--mac");
    ASSERT_EQ(run.status, 0) << run.out;

    const std::string journal = test::readAll(station + "/vornix-journal.jsonl");
    const std::string id = json::parse(journal)["run"];
    std::string transcript;
    for (const auto& file : std::filesystem::directory_iterator(station + "/transcripts"))
        transcript = test::readAll(file.path().string());
    const std::string heading = transcript.substr(0, transcript.find('\n'));
    const std::string stored = line.server.sql("SELECT record_text FROM vornix_run");
    EXPECT_EQ(json::parse(heading.substr(heading.find('{')))["run"], id) << heading;
    EXPECT_EQ(line.server.sql("SELECT run_id FROM vornix_run"), id + "\n");
    EXPECT_EQ(json::parse(stored)["run"], id);
    EXPECT_EQ(line.server.sql("SELECT DISTINCT holder FROM vornix_reservation"), id + "\n");
    EXPECT_EQ(line.server.sql("SELECT DISTINCT run_id FROM vornix_assignment"), id + "\n");
    for (const std::string& text : {journal, transcript, stored})
        EXPECT_EQ(text.find(password), std::string::npos) << text;
}

// What the routers hold: each address, the router (run) that holds it.
struct Holdings {
    std::mutex mutex;
    std::map<std::string, std::string> owner;
    std::vector<std::string> twice;

    void add(const routersim::RouterSim& router, const std::string& label) {
        std::lock_guard<std::mutex> lock(mutex);
        for (const auto& [name, value] : router.variables("/proc/ticfg/env")) {
            if (name != "ethaddr" && name != "lan_mac" && name != "wan_mac") continue;
            const auto [at, added] = owner.emplace(value, label);
            // ethaddr and lan_mac of one router share an address.
            if (!added && at->second != label) twice.push_back(value + " on " + at->second + " and " + label);
        }
    }
};

// A run killed once it wrote to its router, and that router set aside for a
// new one: the two routers share no address, in line mode and with
// setup.ini's start_mac alike.
TEST(LineStations, AKilledRunsWrittenBlockNeverReachesTheNextRouter) {
    Line line(24347, "00:11:22:00:00:00", "00:11:22:00:00:FF");
    ASSERT_TRUE(line.server.ready());
    for (const bool lineMode : {true, false}) {
        SCOPED_TRACE(lineMode ? "line mode" : "start_mac");
        const std::string address = lineMode ? "127.0.0.176" : "127.0.0.177";
        routersim::Options options = routerAt(address);
        options.latencyMs = 50;  // the kill lands before the read-back
        routersim::RouterSim setAside(options);
        ASSERT_TRUE(setAside.start());
        const std::string station = line.station(lineMode ? "line" : "profile", address);
        if (!lineMode) {
            const std::string setup = test::readAll(station + "/setup.ini");
            std::ofstream(station + "/setup.ini", std::ios::binary)
                << setup.substr(0, setup.find("[LINE]")).replace(setup.find("start_mac=NULL"), 14,
                                                                 "start_mac=00:11:22:00:10:00");
        }
        const pid_t pid = test::startCli(station, "--mac");
        std::thread killer = afterRouterGot(setAside, "echo wan_mac", [pid] { ::kill(pid, SIGKILL); });
        killer.join();
        ::waitpid(pid, nullptr, 0);
        setAside.stop();

        routersim::RouterSim next(routerAt(address));
        ASSERT_TRUE(next.start());
        const test::CliResult run = test::runCli(station, "--mac");
        EXPECT_EQ(run.status, 0) << run.out << run.err;
        Holdings holdings;
        holdings.add(setAside, "the router set aside");
        holdings.add(next, "the next router");
        EXPECT_FALSE(setAside.variables("/proc/ticfg/env").empty()) << "the run was killed once it wrote";
        EXPECT_EQ(next.variables("/proc/ticfg/env").size(), 3u);
        EXPECT_EQ(holdings.twice, std::vector<std::string>());
    }
    line.expectConsistent(0x001122000000LL, 0x0011220000FFLL);
    // The line view names the spent address's run, not a router.
    test::ServedView view(line.dir.file("line"), "127.0.0.178", 18093);
    const json spent = view.json("/api/address?mac=00:11:22:00:00:01");
    EXPECT_EQ(spent["spent"], true) << spent;
    EXPECT_EQ(spent["router"], "") << spent;
}

// Four stations that share one name (PCs cloned from one image), each run
// against a router of its own, some killed at any moment: no address is ever
// on two routers, the killed runs' included.
TEST(LineStations, StationsOfOneNameNeverPutAnAddressOnTwoRouters) {
    Line line(24344, "00:11:22:00:00:00", "00:11:22:00:0F:FF");
    ASSERT_TRUE(line.server.ready());
    Holdings holdings;
    std::vector<std::string> problems(4);
    std::vector<std::thread> stations;
    for (int s = 0; s < 4; ++s)
        stations.emplace_back([&, s] {
            const std::string address = "127.0.0." + std::to_string(168 + s);
            const std::string station = line.station("twin" + std::to_string(s), address, "twin");
            std::mt19937 random(static_cast<unsigned>(s + 3));
            for (int run = 0; run < 25; ++run) {
                // A fresh router per run; the last one's killed connections may hold the port a moment.
                routersim::RouterSim router(routerAt(address));
                std::string error;
                for (int tries = 0; tries < 100 && !router.start(&error); ++tries)
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                if (!router.port()) return void(problems[s] += "no router: " + error + "; ");
                if (run % 5 == 4) {
                    const pid_t pid = test::startCli(station, "--mac");
                    // Killed at any moment, or surely while its block is written.
                    if (run % 10 == 4) {
                        std::this_thread::sleep_for(std::chrono::milliseconds(random() % 800));
                    } else {
                        for (int i = 0; i < 10000; ++i) {
                            const auto received = router.received();
                            if (!received.empty() && received[0].find("echo ") != std::string::npos) break;
                            std::this_thread::sleep_for(std::chrono::milliseconds(1));
                        }
                    }
                    ::kill(pid, SIGKILL);
                    ::waitpid(pid, nullptr, 0);
                    // Set aside with whatever it got.
                    holdings.add(router, station + " killed run " + std::to_string(run));
                    continue;
                }
                const test::CliResult result = test::runCli(station, "--mac");
                if (result.status != 0) problems[s] += "run " + std::to_string(run) + " failed: " + result.out + "; ";
                if (result.status == 0) holdings.add(router, station + " run " + std::to_string(run));
            }
        });
    for (auto& t : stations) t.join();
    EXPECT_EQ(problems, std::vector<std::string>(4));
    EXPECT_EQ(holdings.twice, std::vector<std::string>());
    EXPECT_GT(line.number("SELECT COUNT(*) FROM vornix_reservation WHERE state = 'spent'"), 0)
        << "the blocks of runs killed while they wrote are spent";
    EXPECT_GE(holdings.owner.size(), 4u * 20u * 2u) << "two addresses on each router whose run succeeded";
    line.expectConsistent(0x001122000000LL, 0x001122000FFFLL);
}

// A server that stops answering in the middle of a run (SIGSTOP: the kernel
// still acknowledges) ends the run within the line's timeout; once it goes
// on, the next run succeeds. A server restarted while the router is being
// written does not fail the run.
TEST(LineStations, AStoppedServerEndsTheRunInTimeAndARestartedOneIsReconnected) {
    Line line(24345, "00:11:22:00:00:00", "00:11:22:00:00:FF");
    ASSERT_TRUE(line.server.ready());
    using Clock = std::chrono::steady_clock;
    // Stopped while the router is written: the assignment meets it. The stop
    // is made inside the router's handling of the first write, before its
    // answer leaves, so it is in place before any pacing gets the run to its
    // assignment (a poll of what the router got lost that race at times).
    std::atomic<bool> armed{false};
    std::promise<Clock::time_point> stoppedAt;
    routersim::Options options = routerAt("127.0.0.172");
    options.log = [&](const std::string& event) {
        if (event.find("# echo ethaddr") == std::string::npos || !armed.exchange(false)) return;
        line.server.signalAll(SIGSTOP);
        stoppedAt.set_value(Clock::now());
    };
    routersim::RouterSim router(options);
    ASSERT_TRUE(router.start());
    const std::string station = line.station("station", "127.0.0.172", "", "Timeout=3\r\n");
    auto when = [&](const std::string& shown, std::function<void()> action) {
        return afterRouterGot(router, shown, std::move(action));
    };

    armed = true;
    const test::CliResult stopped = test::runCli(station, "--mac");
    const Clock::time_point ended = Clock::now();
    auto stop = stoppedAt.get_future();
    ASSERT_EQ(stop.wait_for(std::chrono::seconds(0)), std::future_status::ready) << stopped.out;
    const double seconds = std::chrono::duration<double>(ended - stop.get()).count();
    line.server.signalAll(SIGCONT);
    EXPECT_EQ(stopped.status, 1);
    EXPECT_NE(stopped.out.find("\nCan't reach the line database: no answer within 3 s\n"), std::string::npos)
        << stopped.out;
    EXPECT_LT(seconds, 3 + 3) << "the run ends within the timeout and a few seconds";

    std::thread restarter = when("echo wan_mac", [&] {
        line.server.stop();
        line.server.start();
    });
    const test::CliResult restarted = test::runCli(station, "--mac");
    restarter.join();
    EXPECT_EQ(restarted.status, 0) << restarted.out;

    EXPECT_EQ(test::runCli(station, "--mac").status, 0);
    EXPECT_EQ(line.number("SELECT COUNT(*) FROM vornix_assignment"), 4);
    line.expectConsistent(0x001122000000LL, 0x0011220000FFLL);
}

}  // namespace
}  // namespace vornix
