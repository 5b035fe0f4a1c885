// vornix-cli as a station script sees it: exit status, stdout, stderr.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/BuildPath.h"
#include "support/TempDir.h"
#include "vornix/Version.h"

#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace vornix {
namespace {

struct Result {
    int status;
    std::string out, err;
};

std::string cliPath() { return test::buildPath(VORNIX_CLI_PATH); }

Result runCli(const test::TempDir& dir, const std::string& arguments) {
    const std::string out = dir.file("out.txt"), err = dir.file("err.txt");
#ifdef _WIN32
    const std::string command = "cd /d \"" + dir.file("") + "\" && \"" + cliPath() + "\" " + arguments + " > \"" +
                                out + "\" 2> \"" + err + "\"";
    const int status = std::system(command.c_str());
#else
    const std::string command =
        "cd '" + dir.file("") + "' && '" + cliPath() + "' " + arguments + " > '" + out + "' 2> '" + err + "'";
    const int raw = std::system(command.c_str());
    const int status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
#endif
    return {status, test::readAll(out), test::readAll(err)};
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
        EXPECT_NE(run.err.find(dir.file("setup.ini")), std::string::npos) << run.err;
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
}

}  // namespace
}  // namespace vornix
