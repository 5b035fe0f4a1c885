// Units on a station with serials: each serial keeps the block it got
// first, whatever its runs did since, and a router never takes a second
// unit's addresses. vornix-cli against simulated routers.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include "RouterSim.h"
#include "support/CliRun.h"
#include "support/ServedView.h"
#include "support/TempDir.h"

namespace vornix {
namespace {

using nlohmann::json;

routersim::Options routerAt(const std::string& address) {
    routersim::Options options;
    options.address = address;
    options.user = "station";
    options.password = "s3cret!";
    options.latencyMs = 5;
    return options;
}

// A station whose setup.ini numbers its units by scanned serials, its
// router at address; start_mac 00:11:22:00:00:10, two addresses a router.
struct UnitStation {
    explicit UnitStation(const std::string& address,
                         const std::string& serialRules = "Source=scan\r\nPattern=VX[0-9]{4}\r\n")
        : address(address) {
        std::filesystem::create_directory(station);
        dir.write("station/setup.ini",
                  "[Environment]\r\nTELNETWAITTIME(ms)=100\r\nPacing=prompt\r\n[SETUP]\r\nCPE_LAN_IP=" + address +
                      "\r\nENV_PATH=/proc/ticfg/env\r\nTelnet Username=station\r\nTelnet Password=s3cret!\r\n[WRITE_MAC]\r\npath=/proc/ticfg/env\r\n"
                      "number=2\r\nstart_mac=00:11:22:00:00:10\r\n0=ethaddr,lan_mac\r\n1=wan_mac\r\n[WRITE_ENV]\r\n"
                      "path=/proc/ticfg/env\r\nnumber=1\r\n0=ProductID,VX100\r\n[SERIAL]\r\nName=SerialNumber\r\n" +
                      serialRules);
    }
    test::CliResult run(const std::string& arguments) const { return test::runCli(station, arguments); }
    std::string startMac() const {
        const std::string setup = test::readAll(station + "/setup.ini");
        const std::size_t at = setup.find("start_mac=");
        return setup.substr(at + 10, 17);
    }
    test::TempDir dir;
    const std::string station = dir.file("station");
    std::string address;
};

// A fresh router at the address for each unit: a board on the fixture.
struct Board {
    // serial: the one the board carries already, or none.
    explicit Board(const std::string& address, const std::string& serial = "") : router(options(address, serial)) {
        started = router.start();
    }
    static routersim::Options options(const std::string& address, const std::string& serial) {
        routersim::Options options = routerAt(address);
        if (!serial.empty()) options.files["/proc/ticfg/env"] = "SerialNumber " + serial + "\n";
        return options;
    }
    std::string variable(const std::string& name) const {
        const auto variables = router.variables("/proc/ticfg/env");
        const auto found = variables.find(name);
        return found == variables.end() ? std::string() : found->second;
    }
    routersim::RouterSim router;
    bool started = false;
};

// A unit whose MAC stage passed and whose boot stage failed, tried again on
// the same router and on a new board: the addresses it got first each time,
// start_mac moved once, and a failed run of it spends nothing.
TEST(Units, AUnitTriedAgainCarriesTheAddressesItGotFirst) {
    UnitStation station("127.0.0.241");
    {
        Board board(station.address);
        ASSERT_TRUE(board.started);
        // The boot stage fails at once: setup.ini names no boot image.
        const test::CliResult first = station.run("--serial VX0001 --mac --boot");
        EXPECT_EQ(first.status, 1) << first.out;
        EXPECT_NE(first.out.find("Verify OK : SerialNumber = \"VX0001\"\n"), std::string::npos) << first.out;
        EXPECT_EQ(board.variable("ethaddr"), "00:11:22:00:00:10");
        EXPECT_EQ(board.variable("SerialNumber"), "VX0001");
        EXPECT_EQ(station.startMac(), "00:11:22:00:00:12");
        const test::CliResult again = station.run("--serial VX0001 --mac");
        EXPECT_EQ(again.status, 0) << again.out;
        EXPECT_NE(again.out.find("Unit VX0001 keeps its block: 00:11:22:00:00:10\n"), std::string::npos) << again.out;
        EXPECT_EQ(station.startMac(), "00:11:22:00:00:12");
    }
    {
        Board other(station.address);
        ASSERT_TRUE(other.started);
        EXPECT_EQ(station.run("--serial VX0002 --mac").status, 0);
        EXPECT_EQ(other.variable("wan_mac"), "00:11:22:00:00:13");
    }
    // The unit's board replaced, and a run of it that fails at login.
    std::string setup = test::readAll(station.station + "/setup.ini");
    station.dir.write("station/setup.ini", setup.replace(setup.find("s3cret!"), 7, "wrong"));
    EXPECT_EQ(station.run("--serial VX0001 --mac").status, 1);
    station.dir.write("station/setup.ini", setup.replace(setup.find("wrong"), 5, "s3cret!"));
    Board replaced(station.address);
    ASSERT_TRUE(replaced.started);
    EXPECT_EQ(station.run("--serial VX0001 --mac").status, 0);
    EXPECT_EQ(replaced.variable("lan_mac"), "00:11:22:00:00:10");
    EXPECT_EQ(station.startMac(), "00:11:22:00:00:14");

    // The unit's page, by its serial or by any of its addresses.
    const test::CliResult page = station.run("--unit 00:11:22:00:00:11 --json");
    ASSERT_EQ(page.status, 0) << page.err;
    const json unit = json::parse(page.out);
    EXPECT_EQ(unit["serial"], "VX0001");
    EXPECT_EQ(unit["block"], json::parse(R"({"first":"00:11:22:00:00:10","last":"00:11:22:00:00:11","count":2})"));
    ASSERT_EQ(unit["runs"].size(), 4u);
    for (const json& run : unit["runs"]) EXPECT_EQ(run["serial"], "VX0001");
    EXPECT_EQ(unit["runs"][3]["result"], "succeeded");
    const test::CliResult table = station.run("--unit VX0001");
    EXPECT_NE(table.out.find("block     00:11:22:00:00:10 - 00:11:22:00:00:11 (2)\n"), std::string::npos) << table.out;
    EXPECT_EQ(station.run("--unit VX0404").status, 1);

    // The line view of a station without a line database shows it too.
    test::ServedView view(station.station, station.address, 18241);
    ASSERT_TRUE(view.ready()) << view.failure();
    for (const char* key : {"VX0001", "001122000011"}) {
        const json shown = view.json(std::string("/api/unit?key=") + key);
        EXPECT_EQ(shown["source"], "station") << key;
        EXPECT_EQ(shown["block"], json::parse(R"({"first":"00:11:22:00:00:10","last":"00:11:22:00:00:11","count":2})"));
        ASSERT_EQ(shown["runs"].size(), 4u) << key;
        EXPECT_EQ(shown["boundAt"], shown["runs"][0]["started"]) << "bound by its first run";
    }
    EXPECT_EQ(view.json("/api/unit?key=VX0404")["found"], false);
}

// A board that carries another unit's addresses (swapped between fixture
// and label): refused before anything is written.
TEST(Units, ARouterHoldingAnotherUnitsAddressesIsRefused) {
    UnitStation station("127.0.0.242");
    Board board(station.address);
    ASSERT_TRUE(board.started);
    const test::CliResult first = station.run("--serial VX0007 --mac");
    ASSERT_EQ(first.status, 0) << first.out;
    const std::size_t before = board.router.received().size();
    const test::CliResult swapped = station.run("--serial VX0008 --mac");
    EXPECT_EQ(swapped.status, 1);
    EXPECT_NE(swapped.out.find("\nSerial VX0008 refused: this router holds 00:11:22:00:00:10 of unit VX0007\n"),
              std::string::npos)
        << swapped.out;
    const auto received = board.router.received();
    for (std::size_t i = before; i < received.size(); ++i)
        EXPECT_EQ(received[i].find("echo "), std::string::npos) << "nothing written";
    EXPECT_EQ(board.variable("SerialNumber"), "VX0007");
    // VX0008 was given a block when it was refused: its own, for its own board.
    EXPECT_EQ(station.startMac(), "00:11:22:00:00:14");
}

// Serials refused before the run: nothing reaches the router, no run is
// recorded, nothing is taken.
TEST(Units, ASerialThatFailsItsRulesIsRefusedBeforeTheRun) {
    UnitStation station("127.0.0.243", "Source=scan\r\nPattern=VX[0-9]{4}\r\nCheck=mod10\r\n");
    Board board(station.address);
    ASSERT_TRUE(board.started);
    const struct {
        const char* arguments;
        const char* line;
    } cases[] = {
        {"--serial VX12345 --mac", "Serial VX12345 refused: it does not match Pattern=VX[0-9]{4}\n"},
        {"--serial VX1235 --mac", "Serial VX1235 refused: its check character is wrong (mod10 gives 0)\n"},
        {"--serial 'VX123;' --mac", "Serial VX123; refused: it holds ;, which a serial may not hold\n"},
        {"--mac", "No serial for this unit: scan it, or give it with --serial SN\n"},
    };
    for (const auto& c : cases) {
        const test::CliResult run = station.run(c.arguments);
        EXPECT_EQ(run.status, 1) << c.arguments;
        EXPECT_EQ(run.out, c.line) << c.arguments;
    }
    EXPECT_TRUE(board.router.received().empty());
    EXPECT_FALSE(std::filesystem::exists(station.station + "/vornix-journal.jsonl"));
    EXPECT_EQ(station.run("--serial VX1230 --mac").status, 0) << "the Luhn digit of 123 is 0";
}

// One new serial given to two runs at once (a label printed twice): one
// block for the unit, and the second run writes nothing. A unit's run
// killed while it writes: its next run writes the same block.
TEST(Units, OneSerialNeverGetsTwoBlocks) {
    UnitStation station("127.0.0.244");
    Board board(station.address);
    ASSERT_TRUE(board.started);
    const std::string gate = station.dir.file("gate");
    ::setenv("VORNIX_TEST_HOLD_AT", "Writing ethaddr", 1);
    ::setenv("VORNIX_TEST_HOLD_GATE", gate.c_str(), 1);
    const pid_t first = ::fork();
    if (first == 0) {
        if (::chdir(station.station.c_str()) != 0) ::_exit(99);
        ::execl(VORNIX_CLI_PATH, VORNIX_CLI_PATH, "--serial", "VX0009", "--mac", static_cast<char*>(nullptr));
        ::_exit(98);
    }
    ::unsetenv("VORNIX_TEST_HOLD_AT");
    ::unsetenv("VORNIX_TEST_HOLD_GATE");
    for (int i = 0; i < 30000 && !std::filesystem::exists(gate + ".held"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(std::filesystem::exists(gate + ".held"));
    const test::CliResult second = station.run("--serial VX0009 --mac");
    EXPECT_EQ(second.status, 1);
    EXPECT_NE(second.out.find("Unit VX0009 is being written by another run: nothing is written\n"), std::string::npos)
        << second.out;
    // Killed there, in the middle of its write.
    ::kill(first, SIGKILL);
    ::waitpid(first, nullptr, 0);
    EXPECT_EQ(station.run("--serial VX0009 --mac").status, 0);
    EXPECT_EQ(board.variable("ethaddr"), "00:11:22:00:00:10");
    EXPECT_EQ(station.startMac(), "00:11:22:00:00:12");
    const std::string units = test::readAll(station.station + "/vornix-units.txt");
    EXPECT_EQ(units.find("VX0009 "), units.rfind("VX0009 ")) << units;
}

// A serial the board carries (Source=router), or one the station numbers
// for a board without (Source=assign): the unit is the board's, tried again
// it keeps its serial and block, and the counter never goes back, however
// a run ends.
TEST(Units, SerialsReadFromTheBoardOrNumberedByTheStation) {
    UnitStation reading("127.0.0.245", "Source=router\r\n");
    {
        Board carrying(reading.address, "VX0042");
        ASSERT_TRUE(carrying.started);
        const test::CliResult run = reading.run("--mac");
        EXPECT_EQ(run.status, 0) << run.out;
        EXPECT_EQ(run.out.find("Writing SerialNumber"), std::string::npos) << "a serial read stays as it is";
        EXPECT_EQ(json::parse(reading.run("--history 1 --json").out)["serial"], "VX0042");
    }
    {
        Board bare(reading.address);
        ASSERT_TRUE(bare.started);
        const test::CliResult run = reading.run("--mac");
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.out.find("\nCan't read the serial SerialNumber on the router\n"), std::string::npos) << run.out;
        EXPECT_TRUE(bare.variable("ethaddr").empty());
    }

    UnitStation numbering("127.0.0.246", "Source=assign\r\nFormat=VX{N:4}\r\nnext_serial=7\r\n");
    auto nextSerial = [&] {
        const std::string setup = test::readAll(numbering.station + "/setup.ini");
        return std::atoi(setup.c_str() + setup.find("next_serial=") + 12);
    };
    Board first(numbering.address);
    ASSERT_TRUE(first.started);
    EXPECT_EQ(numbering.run("--mac").status, 0);
    EXPECT_EQ(first.variable("SerialNumber"), "VX0007");
    EXPECT_EQ(numbering.run("--mac").status, 0) << "tried again";
    EXPECT_EQ(first.variable("ethaddr"), "00:11:22:00:00:10");
    EXPECT_EQ(nextSerial(), 8);
    first.router.stop();
    // Killed as it writes a new board's addresses: that board is VX0008.
    Board second(numbering.address);
    ASSERT_TRUE(second.started);
    const std::string gate = numbering.dir.file("gate");
    ::setenv("VORNIX_TEST_HOLD_AT", "Writing ethaddr", 1);
    ::setenv("VORNIX_TEST_HOLD_GATE", gate.c_str(), 1);
    const pid_t killed = test::startCli(numbering.station, "--mac");
    ::unsetenv("VORNIX_TEST_HOLD_AT");
    ::unsetenv("VORNIX_TEST_HOLD_GATE");
    for (int i = 0; i < 30000 && !std::filesystem::exists(gate + ".held"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ::kill(killed, SIGKILL);
    ::waitpid(killed, nullptr, 0);
    EXPECT_EQ(nextSerial(), 9);
    EXPECT_EQ(numbering.run("--mac").status, 0);
    EXPECT_EQ(second.variable("SerialNumber"), "VX0008");
    EXPECT_EQ(second.variable("ethaddr"), "00:11:22:00:00:12");
    EXPECT_EQ(nextSerial(), 9);
}

}  // namespace
}  // namespace vornix
