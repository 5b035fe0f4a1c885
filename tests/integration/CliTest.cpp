// vornix-cli as a station script sees it: exit status, stdout, stderr.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/CliRun.h"
#include "support/TempDir.h"
#include "vornix/Version.h"

#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace vornix {
namespace {

using Result = test::CliResult;

// Each run in a station directory of its own inside the test's directory.
Result runCli(const test::TempDir& dir, const std::string& arguments) {
    const std::string station = dir.file("station");
    std::filesystem::create_directories(station);
    // Written, not copied: the Windows runtime's copy cannot overwrite.
    if (std::filesystem::exists(dir.file("setup.ini"))) dir.write("station/setup.ini", test::readAll(dir.file("setup.ini")));
    return test::runCli(station, arguments);
}

TEST(Cli, HelpAndUsageErrors) {
    test::TempDir dir;
    const Result help = runCli(dir, "--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("usage: vornix-cli [--mac] [--boot] [--firmware]"), std::string::npos) << help.out;

    const Result wrong = runCli(dir, "--mac --bogus");
    EXPECT_EQ(wrong.status, 2);
    EXPECT_EQ(wrong.out, "");
    EXPECT_NE(wrong.err.find("unknown argument: --bogus"), std::string::npos) << wrong.err;

    // The line view: its usage errors here, and in the Windows build, where it is not, a pointer to the Linux one.
    for (const char* serve : {"--serve 65536", "--serve host:", "--serve 8080 8081", "--serve [::1:80"}) {
        const Result refused = runCli(dir, serve);
        EXPECT_EQ(refused.status, 2) << serve;
#ifdef _WIN32
        EXPECT_NE(refused.err.find("the line view is in the Linux build only"), std::string::npos) << refused.err;
#else
        EXPECT_NE(refused.err.find("vornix-cli: --serve"), std::string::npos) << refused.err;
#endif
    }
}

// A gang run that cannot start, or whose ports cannot run, says why and
// never passes.
TEST(Cli, AGangWithoutUsablePortsSaysWhyAndFails) {
    test::TempDir dir;
    const Result noSection = runCli(dir, "--gang --mac");
    EXPECT_EQ(noSection.status, 1);
    EXPECT_NE(noSection.err.find("vornix-cli: --gang: setup.ini has no [GANG] section"), std::string::npos)
        << noSection.err;

    dir.write("setup.ini", "[SETUP]\r\nCPE_LAN_IP=127.0.0.1\r\n[GANG]\r\nPorts=2\r\nPort1=nosuch0\r\n"
                           "Port1_PC_IP=192.168.1.101\r\nPort2=nosuch1\r\n");
    const Result refused = runCli(dir, "--gang --mac --firmware");
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("a gang station does not run the firmware update"), std::string::npos) << refused.err;

    const Result none = runCli(dir, "--gang --mac");
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.out.rfind("[1] Can't use port 1 (nosuch0): ", 0), 0u) << none.out;
    EXPECT_NE(none.out.find("\n[2] Can't use port 2 (nosuch1): setup.ini's [GANG] section gives it no PC address "
                            "(Port2_PC_IP=)\n"),
              std::string::npos)
        << none.out;
    EXPECT_NE(none.out.find("\nPort 1 (nosuch0): not run\nPort 2 (nosuch1): not run\n"), std::string::npos)
        << none.out;

    // Two ports on one adapter: the loopback, by its name here, by its index on Windows.
#ifdef _WIN32
    const std::string loopback = "1";
#else
    const std::string loopback = "lo";
#endif
    dir.write("setup.ini", "[SETUP]\r\nCPE_LAN_IP=127.0.0.1\r\n[GANG]\r\nPorts=2\r\nPort1=" + loopback +
                               "\r\nPort1_PC_IP=127.0.0.1\r\nPort2=" + loopback + "\r\nPort2_PC_IP=127.0.0.1\r\n");
    const Result shared = runCli(dir, "--gang --mac");
    EXPECT_EQ(shared.status, 1);
    EXPECT_EQ(shared.out, "[1] Can't use port 1 (" + loopback + "): port 2 names the same network adapter\n[2] Can't use port 2 (" +
                              loopback + "): port 1 names the same network adapter\nPort 1 (" + loopback +
                              "): not run\nPort 2 (" + loopback + "): not run\n");
}

TEST(Cli, VersionIsTheProjectVersion) {
    test::TempDir dir;
    const Result version = runCli(dir, "--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "vornix-cli " VORNIX_VERSION "\n");
    EXPECT_EQ(version.err, "");
}

TEST(Cli, TheRunLogGoesToStdoutAndTheOutcomeToTheExitStatus) {
    test::TempDir dir;
    dir.write("setup.ini", "[Environment]\r\nTELNETWAITTIME(ms)=250ms\r\n");
    for (const char* arguments : {"", "--mac", "--mac --boot --firmware"}) {
        const Result run = runCli(dir, arguments);
        EXPECT_EQ(run.status, 1) << arguments;
        // Exactly the dialog's lines: from the probe, then from the sequencer.
        EXPECT_EQ(run.out, "Can't read CPE_LAN_IP\nCan't read CPE_LAN_IP\n") << arguments;
        // ConfigPath names setup.ini in the directory the run started in.
        EXPECT_NE(run.err.find((std::filesystem::path(dir.file("station")) / "setup.ini").string()), std::string::npos)
            << run.err;
        EXPECT_NE(run.err.find("telnet wait 250 ms"), std::string::npos) << run.err;
    }

    dir.write("setup.ini", "[SETUP]\r\nCPE_LAN_IP=127.0.0.1\r\n");
    const Result found = runCli(dir, "");
    if (found.err.find("cannot send ICMP echo") != std::string::npos) GTEST_SKIP() << "no ICMP echo here: " << found.err;
    EXPECT_EQ(found.out, "Found 127.0.0.1\n");
    EXPECT_EQ(found.status, 0) << "the router answered and no stage was chosen";

    const Result noTelnet = runCli(dir, "--mac");
    EXPECT_EQ(noTelnet.status, 1);
    EXPECT_EQ(noTelnet.out, "Found 127.0.0.1\nprocess login procedure .....\n\nCan't connect 127.0.0.1\n")
        << "nothing listens on 127.0.0.1:23";

    // Both runs are in the station's journal, newest last.
    const Result history = runCli(dir, "--history");
    EXPECT_EQ(history.status, 0);
    const std::size_t found1 = history.out.find("  127.0.0.1          -                    succeeded  -\n");
    const std::size_t failed2 = history.out.find("  127.0.0.1          mac                  failed     -\n");
    EXPECT_TRUE(found1 != std::string::npos && failed2 != std::string::npos && found1 < failed2) << history.out;
    const Result last = runCli(dir, "--history 1 --json");
    EXPECT_EQ(last.out.find("{\"format\":1,"), 0u) << last.out;
    EXPECT_NE(last.out.find("\"failure\":\"Can't connect 127.0.0.1\""), std::string::npos) << last.out;
    EXPECT_EQ(std::count(last.out.begin(), last.out.end(), '\n'), 1);
}

TEST(Cli, HistoryOfAStationWithoutRunsAndItsUsageErrors) {
    test::TempDir dir;
    const Result empty = runCli(dir, "--history");
    EXPECT_EQ(empty.status, 0);
    EXPECT_EQ(empty.out, "started (UTC)             router             stages               result     first MAC\n");
    for (const char* arguments : {"--json", "--history --mac", "--history 5 x"}) {
        const Result wrong = runCli(dir, arguments);
        EXPECT_EQ(wrong.status, 2) << arguments;
        EXPECT_EQ(wrong.out, "") << arguments;
    }
}

// A gang station's records name their port: --history shows a column for it
// when a record it shows has one, and the table as it was when none has.
TEST(Cli, HistoryShowsThePortOnlyWhenARecordShownHasOne) {
    const std::string journal =
        R"({"run":"r1","started":"2026-12-09T08:00:00.000Z","router":"192.168.1.1","port":2,"interface":"Ethernet 2",)"
        R"("result":"failed","ticked":["mac"]})" "\n"
        R"({"run":"r2","started":"2026-12-09T08:01:00.000Z","router":"192.168.1.1","result":"succeeded",)"
        R"("ticked":["mac"],"mac":{"addresses":[{"written":"00:11:22:00:00:00"}]}})" "\n";
    const std::pair<const char*, std::string> cases[] = {
        {"--history 1", "started (UTC)             router             stages               result     first MAC\n"
                        "2026-12-09T08:01:00.000Z  192.168.1.1        mac                  succeeded  00:11:22:00:00:00\n"},
        {"--history", "started (UTC)             router             port          stages               result     first MAC\n"
                      "2026-12-09T08:00:00.000Z  192.168.1.1        2 Ethernet 2  mac                  failed     -\n"
                      "2026-12-09T08:01:00.000Z  192.168.1.1        -             mac                  succeeded  00:11:22:00:00:00\n"},
    };
    test::TempDir dir;
    std::filesystem::create_directories(dir.file("station"));
    dir.write("station/vornix-journal.jsonl", journal);
    for (const auto& [arguments, out] : cases) EXPECT_EQ(runCli(dir, arguments).out, out) << arguments;
}

}  // namespace
}  // namespace vornix
