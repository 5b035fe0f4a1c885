// Units in line mode: a serial keeps the block it first got from the line's
// pool for life, in a real PostgreSQL server (ports 24352-24359), through
// the database client and through vornix-cli against simulated routers.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "RouterSim.h"
#include "records/LineDatabase.h"
#include "support/Chromium.h"
#include "support/CliRun.h"
#include "support/PostgresServer.h"
#include "support/ServedView.h"

namespace vornix {
namespace {

using nlohmann::json;
using Reserve = LineDatabase::ReserveResult;
using Assign = LineDatabase::AssignResult;

const long long base = 0x001122000000LL;  // 00:11:22:00:00:00

// A line of its own: a server, its tables and one pool made as a line makes
// them (vornix-cli --line-init, --pool-add), a connection to it, and station
// directories whose setup.ini numbers units by scanned serials, two
// addresses a router.
struct LineUnits : ::testing::Test {
    std::unique_ptr<test::PostgresServer> server;
    std::unique_ptr<LineDatabase> db;
    test::TempDir dir;

    void start(int port) {
        server = std::make_unique<test::PostgresServer>(port);
        ASSERT_TRUE(server->ready()) << server->failure();
        const std::string admin = station("admin", "127.0.0.1");
        ASSERT_EQ(test::runCli(admin, "--line-init").status, 0);
        ASSERT_EQ(test::runCli(admin, "--pool-add line 00:11:22:00:00:00 00:11:22:00:00:FF").status, 0);
        db = connect();
    }
    std::unique_ptr<LineDatabase> connect() {
        std::string diagnostic;
        auto opened = LineDatabase::open(server->connectionString(), 10, diagnostic);
        EXPECT_TRUE(opened) << diagnostic;
        return opened;
    }
    std::string sql(const std::string& statement) { return server->sql(statement); }
    std::string station(const std::string& name, const std::string& router) {
        const std::string path = dir.file(name);
        std::filesystem::create_directories(path);
        std::ofstream(path + "/setup.ini", std::ios::binary)
            << "[Environment]\r\nTELNETWAITTIME(ms)=100\r\nPacing=prompt\r\n[SETUP]\r\nCPE_LAN_IP=" << router
            << "\r\nTelnet Username=admin\r\nTelnet Password=admin\r\n[WRITE_MAC]\r\npath=/proc/ticfg/env\r\n"
               "number=2\r\nstart_mac=NULL\r\n0=ethaddr,lan_mac\r\n1=wan_mac\r\n[WRITE_ENV]\r\npath=/proc/ticfg/env\r\n"
               "number=0\r\n[SERIAL]\r\nSource=scan\r\nName=SerialNumber\r\nPattern=VX[0-9]{4}\r\n[LINE]\r\nDatabase="
            << server->connectionString() << "\r\nPool=line\r\nStation=" << name << "\r\n";
        return path;
    }
    // vornix-cli held once it logged a line starting with `at`: its pid,
    // or 0 when it never got there.
    pid_t startHeld(const std::string& station, const std::string& serial, const char* at, const std::string& gate) {
        ::setenv("VORNIX_TEST_HOLD_AT", at, 1);
        ::setenv("VORNIX_TEST_HOLD_GATE", gate.c_str(), 1);
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (::chdir(station.c_str()) != 0) ::_exit(99);
            ::execl(VORNIX_CLI_PATH, VORNIX_CLI_PATH, "--serial", serial.c_str(), "--mac", static_cast<char*>(nullptr));
            ::_exit(98);
        }
        ::unsetenv("VORNIX_TEST_HOLD_AT");
        ::unsetenv("VORNIX_TEST_HOLD_GATE");
        for (int i = 0; i < 60000 && !std::filesystem::exists(gate + ".held"); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return std::filesystem::exists(gate + ".held") ? pid : 0;
    }
};

routersim::Options board(const std::string& address) {
    routersim::Options options;
    options.address = address;
    options.latencyMs = 0;
    return options;
}

// ---------------------------------------------------------------- the client

// What a run does with its block, step by step, and what the database answers.
enum class Op { Reserve, Write, Release, Assign };
struct Step {
    Op op;
    const char* station;
    const char* run;
    const char* serial;  // "" for a run without one
    int count, lease;
    int result;       // a Reserve or an Assign value; for Release, how many blocks it spent
    long long first;  // the unit's or the block reserved, from base; -1 when none
};

// Catches a unit's block spent by a failed run, handed to a run without a
// serial (its run gone, released or not) or to the pool again, reopened
// while another run holds it, taken in another size, or a re-run's
// assignment refused because the addresses are already the unit's.
TEST_F(LineUnits, AUnitKeepsItsBlockWhateverItsRunsDo) {
    ASSERT_NO_FATAL_FAILURE(start(24352));
    const int reserved = static_cast<int>(Reserve::Reserved), assigned = static_cast<int>(Assign::Assigned);
    const int busy = static_cast<int>(Reserve::UnitBusy), size = static_cast<int>(Reserve::UnitSize);
    const Step steps[] = {
        {Op::Reserve, "st-1", "run-1", "VX0001", 2, 0, reserved, 0},  // its lease over at once
        {Op::Reserve, "st-1", "run-2", "", 2, 3600, reserved, 2},      // not the unit's, though its lease is over
        {Op::Write, "st-1", "run-1", "", 0, 0, assigned, -1},
        {Op::Release, "st-1", "run-1", "", 0, 0, 0, -1},  // failed after writing: nothing spent
        {Op::Reserve, "st-1", "run-3", "VX0001", 2, 3600, reserved, 0},
        {Op::Reserve, "st-2", "run-4", "VX0001", 2, 3600, busy, 0},
        {Op::Reserve, "st-2", "run-4", "VX0001", 4, 3600, size, 0},
        {Op::Write, "st-1", "run-3", "", 0, 0, assigned, -1},
        {Op::Assign, "st-1", "run-3", "", 0, 0, assigned, -1},
        {Op::Reserve, "st-2", "run-5", "VX0001", 2, 3600, reserved, 0},  // on another station, assigned before
        {Op::Release, "st-2", "run-5", "", 0, 0, 0, -1},
        {Op::Reserve, "st-2", "run-6", "VX0001", 2, 3600, reserved, 0},
        {Op::Assign, "st-2", "run-6", "", 0, 0, assigned, -1},  // its addresses are run-3's: now run-6's
        {Op::Assign, "st-2", "run-6", "", 0, 0, assigned, -1},  // asked again after a lost answer
        {Op::Reserve, "st-1", "run-7", "VX0002", 2, 3600, reserved, 4},
    };
    std::map<std::string, Reservation> held;
    int number = 0;
    for (const Step& step : steps) {
        std::string diagnostic;
        Reservation got, &block = held[step.run];
        std::vector<Reservation> spent;
        const int result =
            step.op == Op::Reserve ? static_cast<int>(db->reserve("line", step.station, step.count, step.run,
                                                                  step.lease, got, diagnostic, step.serial))
            : step.op == Op::Write ? static_cast<int>(db->markWriting(block.id, step.run, diagnostic))
            : step.op == Op::Assign
                ? static_cast<int>(db->assign(block.id, step.station, "10.0.0.1", step.run, diagnostic))
                : (db->release(step.run, spent, diagnostic) ? static_cast<int>(spent.size()) : -1);
        EXPECT_EQ(result, step.result) << "step " << ++number << ": " << diagnostic;
        EXPECT_EQ(got.first, step.first < 0 ? 0 : base + step.first) << "step " << number;
        if (step.op == Op::Reserve && result == reserved) block = got;
        if (result == size) {
            EXPECT_EQ(diagnostic, "unit VX0001 has 2 MAC addresses from 00:11:22:00:00:00, not 4");
        }
    }
    EXPECT_EQ(sql("SELECT id - " + std::to_string(base) + ", state FROM vornix_reservation ORDER BY id"),
              "0|assigned\n2|open\n4|open\n");
    EXPECT_EQ(sql("SELECT DISTINCT station, run_id FROM vornix_assignment"), "st-2|run-6\n");
    EXPECT_EQ(sql("SELECT next_mac - " + std::to_string(base) + " FROM vornix_pool"), "6\n");
    std::optional<LineUnit> unit;
    std::string diagnostic;
    ASSERT_TRUE(db->findUnitHolding(base + 1, unit, diagnostic)) << diagnostic;
    EXPECT_EQ(unit ? unit->serial + " " + unit->runId : "none", "VX0001 run-1");
    ASSERT_TRUE(db->findUnitHolding(base + 3, unit, diagnostic)) << diagnostic;
    EXPECT_FALSE(unit) << "run-2's block is no unit's";
}

// Catches the race of two stations binding one new serial: the loser must
// be refused or get the same block, never a second block or an error.
TEST_F(LineUnits, TwoStationsGivingOneNewSerialAtOnceBindOneBlock) {
    ASSERT_NO_FATAL_FAILURE(start(24353));
    std::unique_ptr<LineDatabase> stations[2] = {connect(), connect()};
    for (int round = 0; round < 25; ++round) {
        const std::string serial = "VX" + std::to_string(1000 + round);
        std::atomic<int> waiting{2};
        Reserve results[2];
        Reservation blocks[2];
        std::string diagnostics[2];
        std::vector<std::thread> threads;
        for (int s = 0; s < 2; ++s)
            threads.emplace_back([&, s] {
                for (--waiting; waiting > 0;) std::this_thread::yield();
                results[s] = stations[s]->reserve("line", "st-" + std::to_string(s), 2, serial + "-" + std::to_string(s),
                                                  3600, blocks[s], diagnostics[s], serial);
            });
        for (auto& t : threads) t.join();
        for (int s = 0; s < 2; ++s)
            EXPECT_TRUE(results[s] == Reserve::Reserved || results[s] == Reserve::UnitBusy) << diagnostics[s];
        EXPECT_EQ(blocks[0].first, blocks[1].first) << "round " << round;
    }
    EXPECT_EQ(sql("SELECT COUNT(*), COUNT(DISTINCT first_mac) FROM vornix_unit"), "25|25\n");
    EXPECT_EQ(sql("SELECT next_mac - " + std::to_string(base) + " FROM vornix_pool"), "50\n") << "one block a unit";
}

// Catches a database made before units that cannot be brought up to them
// (the run table's serial and its index), and a run's serial not stored.
TEST_F(LineUnits, AnEarlierDatabaseGetsTheUnitsTablesAndRunsKeepTheirSerial) {
    ASSERT_NO_FATAL_FAILURE(start(24354));
    sql("DROP TABLE vornix_unit");
    sql("ALTER TABLE vornix_run DROP COLUMN serial");  // and its index
    std::string diagnostic;
    ASSERT_TRUE(db->createTables(diagnostic)) << diagnostic;
    EXPECT_EQ(sql("SELECT COUNT(*) FROM pg_indexes WHERE indexname = 'vornix_run_serial'"), "1\n");
    ASSERT_TRUE(db->recordRun("run-1", "st-1", "{}", diagnostic, "VX0001")) << diagnostic;
    ASSERT_TRUE(db->recordRun("run-2", "st-1", "{}", diagnostic)) << diagnostic;
    EXPECT_EQ(sql("SELECT run_id, COALESCE(serial, 'none') FROM vornix_run ORDER BY run_id"),
              "run-1|VX0001\nrun-2|none\n");
    Reservation block;
    EXPECT_EQ(db->reserve("line", "st-1", 2, "run-3", 3600, block, diagnostic, "VX0001"), Reserve::Reserved)
        << diagnostic;
}

// ---------------------------------------------------------------- stations

// Catches a unit's run that fails after writing spending the block (the
// journal's spentBlock, a 'spent' row) or its next run getting another,
// runs stored without their serial, and --unit not reading the database.
TEST_F(LineUnits, AUnitsRunThatFailsAfterWritingIsWrittenAgainWithTheSameAddresses) {
    ASSERT_NO_FATAL_FAILURE(start(24355));
    const std::string station = this->station("st-1", "127.0.0.20");
    {
        routersim::RouterSim first(board("127.0.0.20"));
        ASSERT_TRUE(first.start());
        // The board goes away while the run is held before its read-back.
        const std::string gate = dir.file("gate");
        const pid_t pid = startHeld(station, "VX0001", "Verifying", gate);
        ASSERT_NE(pid, 0);
        first.stop();
        std::ofstream(gate).close();
        int status = 0;
        ::waitpid(pid, &status, 0);
        EXPECT_EQ(WEXITSTATUS(status), 1);
    }
    // Another board at the address; the last one's closed connections may hold the port a moment.
    routersim::RouterSim again(board("127.0.0.20"));
    for (int tries = 0; tries < 100 && !again.start(); ++tries) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_NE(again.port(), 0);
    const test::CliResult run = test::runCli(station, "--serial VX0001 --mac");
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("Unit VX0001 keeps its block: 00:11:22:00:00:00\n"), std::string::npos) << run.out;
    EXPECT_EQ(again.variables("/proc/ticfg/env")["wan_mac"], "00:11:22:00:00:01");
    EXPECT_EQ(sql("SELECT state FROM vornix_reservation"), "assigned\n");
    EXPECT_EQ(test::readAll(station + "/vornix-journal.jsonl").find("spentBlock"), std::string::npos);
    EXPECT_EQ(sql("SELECT COUNT(*) FROM vornix_run WHERE serial = 'VX0001'"), "2\n");

    const test::CliResult page = test::runCli(station, "--unit 00:11:22:00:00:01 --json");
    ASSERT_EQ(page.status, 0) << page.err;
    const json unit = json::parse(page.out);
    EXPECT_EQ(unit["block"], json::parse(R"({"first":"00:11:22:00:00:00","last":"00:11:22:00:00:01","count":2})"));
    ASSERT_EQ(unit["runs"].size(), 2u);
    EXPECT_EQ(unit["runs"][1]["result"], "succeeded");
    const test::CliResult table = test::runCli(station, "--unit VX0001");
    EXPECT_NE(table.out.find("block     00:11:22:00:00:00 - 00:11:22:00:00:01 (2)\n"), std::string::npos) << table.out;
    EXPECT_NE(table.out.find("  st-1     127.0.0.20 "), std::string::npos) << "the runs' station:\n" << table.out;
}

// Catches a unit killed while it writes losing its block (spent, or another
// taken at its next run), and a second station writing the unit meanwhile.
TEST_F(LineUnits, AUnitKilledWhileItWritesGetsItsOwnBlockAgain) {
    ASSERT_NO_FATAL_FAILURE(start(24356));
    routersim::RouterSim router(board("127.0.0.21"));
    ASSERT_TRUE(router.start());
    const std::string station = this->station("st-1", "127.0.0.21"), beside = this->station("st-2", "127.0.0.21");
    const pid_t pid = startHeld(station, "VX0009", "Writing ethaddr", dir.file("gate"));
    ASSERT_NE(pid, 0);
    const test::CliResult second = test::runCli(beside, "--serial VX0009 --mac");
    EXPECT_EQ(second.status, 1);
    EXPECT_NE(second.out.find("\nUnit VX0009 is being written by another run: nothing is written\n"),
              std::string::npos)
        << second.out;
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    const test::CliResult again = test::runCli(station, "--serial VX0009 --mac");
    EXPECT_EQ(again.status, 0) << again.out;
    EXPECT_EQ(router.variables("/proc/ticfg/env")["ethaddr"], "00:11:22:00:00:00");
    EXPECT_EQ(sql("SELECT serial, first_mac - " + std::to_string(base) + " FROM vornix_unit"), "VX0009|0\n");
    EXPECT_EQ(sql("SELECT COUNT(*) FROM vornix_reservation WHERE state = 'spent'"), "0\n");
    EXPECT_NE(test::readAll(station + "/vornix-journal.jsonl").find("\"result\":\"interrupted\""), std::string::npos);
}

// Catches a board swapped between units getting a second unit's addresses.
TEST_F(LineUnits, ARouterHoldingAnotherUnitsAddressesIsRefused) {
    ASSERT_NO_FATAL_FAILURE(start(24357));
    routersim::RouterSim router(board("127.0.0.22"));
    ASSERT_TRUE(router.start());
    const std::string station = this->station("st-1", "127.0.0.22");
    ASSERT_EQ(test::runCli(station, "--serial VX0007 --mac").status, 0);
    const std::size_t before = router.received().size();
    const test::CliResult swapped = test::runCli(station, "--serial VX0008 --mac");
    EXPECT_EQ(swapped.status, 1);
    EXPECT_NE(swapped.out.find("\nSerial VX0008 refused: this router holds 00:11:22:00:00:00 of unit VX0007\n"),
              std::string::npos)
        << swapped.out;
    const auto received = router.received();
    for (std::size_t i = before; i < received.size(); ++i)
        EXPECT_EQ(received[i].find("echo "), std::string::npos) << "nothing written";
    EXPECT_EQ(router.variables("/proc/ticfg/env")["SerialNumber"], "VX0007");
}

// Catches two stations numbering units at once giving one number twice, and
// a line counter set back by hand giving a new board an old unit's block.
TEST_F(LineUnits, StationsThatNumberTheirUnitsShareTheLinesCounter) {
    ASSERT_NO_FATAL_FAILURE(start(24359));
    std::unique_ptr<LineDatabase> stations[2] = {connect(), connect()};
    std::vector<long long> numbers[2];
    std::vector<std::thread> threads;
    for (int s = 0; s < 2; ++s)
        threads.emplace_back([&, s] {
            for (int i = 0; i < 20; ++i) {
                long long number = 0;
                std::string diagnostic;
                if (stations[s]->takeSerialNumber("VX{N:4}", 7, number, diagnostic)) numbers[s].push_back(number);
                else ADD_FAILURE() << diagnostic;
            }
        });
    for (auto& t : threads) t.join();
    std::set<long long> taken(numbers[0].begin(), numbers[0].end());
    taken.insert(numbers[1].begin(), numbers[1].end());
    ASSERT_EQ(taken.size(), 40u) << "a number given twice";
    EXPECT_EQ(*taken.begin(), 7);
    EXPECT_EQ(*taken.rbegin(), 46);

    routersim::RouterSim router(board("127.0.0.25"));
    ASSERT_TRUE(router.start());
    const std::string station = this->station("st-1", "127.0.0.25");
    // Numbered by the station from next_serial's 5 on, the line's from then.
    auto numbering = [](const std::string& station, const std::string& next) {
        std::string ini = test::readAll(station + "/setup.ini");
        const std::string scan = "Source=scan\r\nName=SerialNumber\r\nPattern=VX[0-9]{4}\r\n";
        ini.replace(ini.find(scan), scan.size(), "Source=assign\r\nName=SerialNumber\r\nFormat=LN{N:4}\r\n"
                                                 "Pattern=LN[0-9]{4}\r\n" + next);
        // The serial a board already holds is read from ENV_PATH first.
        ini.replace(ini.find("Telnet Username="), 0, "ENV_PATH=/proc/ticfg/env\r\n");
        std::ofstream(station + "/setup.ini", std::ios::binary) << ini;
    };
    numbering(station, "next_serial=5\r\n");
    const test::CliResult first = test::runCli(station, "--mac");
    EXPECT_EQ(first.status, 0) << first.out;
    EXPECT_EQ(router.variables("/proc/ticfg/env")["SerialNumber"], "LN0005");
    EXPECT_EQ(sql("SELECT serial, first_mac - " + std::to_string(base) + " FROM vornix_unit"), "LN0005|0\n");
    EXPECT_EQ(test::readAll(station + "/setup.ini").find("next_serial=6"), std::string::npos) << "the line's counter";

    sql("UPDATE vornix_serial_counter SET next_number = 5 WHERE format = 'LN{N:4}'");
    routersim::RouterSim fresh(board("127.0.0.26"));
    ASSERT_TRUE(fresh.start());
    const std::string other = this->station("st-2", "127.0.0.26");
    numbering(other, "");
    const test::CliResult again = test::runCli(other, "--mac");
    EXPECT_EQ(again.status, 1);
    EXPECT_NE(again.out.find("\nSerial LN0005 was given to a unit before: the line database's counter for LN{N:4} "
                             "went back; nothing is written\n"),
              std::string::npos)
        << again.out;
    EXPECT_EQ(fresh.variables("/proc/ticfg/env").count("ethaddr"), 0u) << "nothing written";
}

// Catches the view's unit search missing a unit by its serial or an address,
// and a run's router text reaching the unit's page as markup.
TEST_F(LineUnits, TheViewFindsAUnitBySerialOrAddressAndShowsRouterTextAsText) {
    ASSERT_NO_FATAL_FAILURE(start(24358));
    routersim::RouterSim router(board("127.0.0.23"));
    ASSERT_TRUE(router.start());
    const std::string station = this->station("st-1", "127.0.0.23");
    ASSERT_EQ(test::runCli(station, "--serial VX0003 --mac").status, 0);
    // A run of the unit that failed on text its router sent.
    const char* const markup = "<img src=x onerror=\"document.body.dataset.pwned=1\">";
    const json failed = {{"format", 1}, {"run", "2026-01-01T00:00:00.000Z st-9 00000001"},
                         {"started", "2026-01-01T00:00:00.000Z"}, {"ended", "2026-01-01T00:00:09.000Z"},
                         {"station", "st-9"}, {"router", "192.168.1.1"}, {"serial", "VX0003"},
                         {"result", "failed"}, {"ticked", {"mac"}},
                         {"stages", {{"mac", {{"result", "failed"}, {"failure", markup}, {"ms", 900}}}}},
                         {"log", {markup}}, {"transcript", ""}};
    sql("INSERT INTO vornix_run (run_id, station, recorded_at, record_text, serial) VALUES ("
        "'2026-01-01T00:00:00.000Z st-9 00000001', 'st-9', '2026-01-01T00:00:09Z', '" + failed.dump() + "', 'VX0003')");

    test::ServedView view(station, "127.0.0.24", 18095);
    ASSERT_TRUE(view.ready()) << view.failure();
    const struct {
        const char* key;
        bool found;
    } cases[] = {{"VX0003", true}, {"00-11-22-00-00-01", true}, {"001122000002", false}, {"VX0404", false}};
    for (const auto& c : cases) {
        const json unit = view.json(std::string("/api/unit?key=") + c.key);
        EXPECT_EQ(unit["found"], c.found) << c.key << ": " << unit;
        if (c.found) {
            EXPECT_EQ(unit.value("serial", "") + " " + std::to_string(unit["runs"].size()), "VX0003 2");
        }
    }
    int status = 0;
    view.get("/api/unit?key=", &status);
    EXPECT_EQ(status, 400);
    if (!test::haveChromium()) GTEST_SKIP() << "no /usr/bin/chromium: run scripts/install-deps";
    const std::string page = test::dumpDom(view.url("/unit?key=VX0003"), 4000);
    ASSERT_NE(page.find("data-loaded=\"1\""), std::string::npos) << page.substr(0, 2000);
    EXPECT_EQ(page.find("data-pwned"), std::string::npos) << "the router's text ran as markup";
    EXPECT_EQ(test::textOf(page, "data-field=\"block\""), "00:11:22:00:00:00 – 00:11:22:00:00:01 (2)");
    const std::size_t row = page.find("data-run=\"2026-01-01T00:00:00.000Z st-9 00000001\"");
    ASSERT_NE(row, std::string::npos) << page;
    EXPECT_EQ(test::field(page, row, "failure"), markup);
    EXPECT_EQ(test::field(page, row, "station"), "st-9");
}

}  // namespace
}  // namespace vornix
