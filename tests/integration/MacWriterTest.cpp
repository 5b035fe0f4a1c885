// The MAC stage against the simulated router over loopback telnet: the log
// lines in order, the bytes the router received on both connections, the
// router's files, the flags, Start, and start_mac in setup.ini.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "RouterSim.h"
#include "link/TelnetChannel.h"
#include "platform/posix/PosixProfile.h"
#include "procedures/MacWriter.h"
#include "procedures/ProfileBlockSource.h"
#include "support/Immutable.h"
#include "support/RecordingConsole.h"
#include "support/TempDir.h"

namespace vornix {
namespace {

constexpr int telnetWait = 250;
const std::string login = "admin\r\nadmin\r\ncd /proc/ticfg\r\nls env\r\ncat env\r\n";

// Real pauses up to a second; the 2000 ms before the searches only recorded.
struct BriefPause : Pause {
    std::vector<int> long_;
    void sleepMs(int ms) override {
        if (ms >= 1000) long_.push_back(ms);
        else std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
};

struct MacRun {
    int result = -1;
    std::vector<std::string> log, events, received;
    int macBusy = -1, macSucceeded = -1;
    std::string setupPath, setupAfter, file;
    std::vector<int> longPauses;
};

std::string setupFor(const std::string& address, const std::string& rest) {
    return "[SETUP]\r\nCPE_LAN_IP=" + address + "\r\nTelnet Username=admin\r\nTelnet Password=admin\r\n" + rest;
}

// What a test changes about the router and the station.
struct Tweaks {
    std::function<void(routersim::Options&)> router;
    // Runs beside the stage on another thread, with the router.
    std::function<void(routersim::RouterSim&)> during;
    std::string filePath = "/proc/ticfg/mac_env";
    std::function<std::unique_ptr<Profile>(const std::string& path)> profile;
};

MacRun runMac(const char* address, const std::string& setupIni, const Tweaks& tweaks = {}) {
    test::TempDir dir;
    const std::string path = dir.write("setup.ini", setupIni);
    routersim::Options options;
    options.address = address;
    if (tweaks.router) tweaks.router(options);
    routersim::RouterSim router(options);
    std::string error;
    EXPECT_TRUE(router.start(&error)) << error;

    std::unique_ptr<Profile> profile =
        tweaks.profile ? tweaks.profile(path) : std::make_unique<platform::PosixProfile>(path);
    test::RecordingConsole console;
    RunFlags flags;
    BriefPause pause;
    StationContext context{console, *profile, path, telnetWait, flags, pause};
    MacBlock block;
    console.enableStart(false);  // as the sequencer leaves it
    std::thread beside;
    if (tweaks.during) beside = std::thread([&] { tweaks.during(router); });
    MacRun run;
    ProfileBlockSource blocks(*profile, path);
    run.result = MacWriter(context, block, blocks).run();
    if (beside.joinable()) beside.join();
    EXPECT_TRUE(awaitCollectors(3000));
    router.stop();

    run.log = console.log();
    run.events = console.events();
    run.received = router.received();
    run.macBusy = flags.macBusy;
    run.macSucceeded = flags.macSucceeded;
    run.setupPath = path;
    run.setupAfter = test::readAll(path);
    run.file = router.file(tweaks.filePath);
    run.longPauses = pause.long_;
    EXPECT_TRUE(console.startEnabled()) << "Start is enabled again on every way out";
    EXPECT_EQ(run.macBusy, 0);
    return run;
}

// A MAC list, and an environment list with its path but no entries.
std::string writeMac(const std::string& startMac, const std::string& number, const std::string& entries,
                     const std::string& path = "/proc/ticfg/mac_env") {
    return "[WRITE_MAC]\r\npath=" + path + "\r\nnumber=" + number + "\r\nstart_mac=" + startMac + "\r\n" + entries +
           "[WRITE_ENV]\r\npath=" + path + "\r\n";
}

// What a router received, without the login's retries of its listing.
std::string withoutLoginRetries(std::string received) {
    const std::string listed = "ls env\r\n", again = "cd /proc/ticfg\r\n";
    const std::size_t at = received.find(listed);
    if (at == std::string::npos) return received;
    while (received.compare(at + listed.size(), again.size(), again) == 0) received.erase(at + listed.size(), again.size());
    return received;
}

// A router that answers at once, or within the station's own pauses, gets
// exactly what a slow one gets, and the log is the same.
TEST(MacWriter, WritesVerifiesAndAdvancesTheBlockAtEveryRouterLatency) {
    const std::string setup =
        setupFor("127.0.0.101", "[WRITE_MAC]\r\npath=/proc/ticfg/mac_env\r\nnumber=1\r\nstart_mac=00:11:22:33:44:55\r\n"
                                "0=A,B\r\n[WRITE_ENV]\r\npath=/proc/ticfg/mac_env\r\nnumber=1\r\n0=N,V\r\n");
    for (int latency : {200, 0, 20, 40}) {
    SCOPED_TRACE(std::to_string(latency) + " ms");
    Tweaks tweaks;
    tweaks.router = [latency](routersim::Options& options) { options.latencyMs = latency; };
    const MacRun run = runMac("127.0.0.101", setup, tweaks);
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(run.log, (std::vector<std::string>{
                           "process login procedure .....", "", "-----writing ENV-----",
                           "Writing A = \"00:11:22:33:44:55\"", "Writing B = \"00:11:22:33:44:55\"", "Writing N V",
                           "---------------------", "Verifying ..... ", "",
                           "Verify OK : A = \"00:11:22:33:44:55\"", "Verify OK : B = \"00:11:22:33:44:55\"",
                           "Verify OK : N = \"V\"", "---------------------", ""}));
    ASSERT_EQ(run.received.size(), 2u);
    // An "ls env" answer that came before the login cleared its capture (a
    // loaded machine) is asked for again: the login's own retry, not the stage's.
    EXPECT_EQ(withoutLoginRetries(run.received[0]), login + "echo A 00:11:22:33:44:55 > /proc/ticfg/mac_env\r\n"
                                       "echo B 00:11:22:33:44:55 > /proc/ticfg/mac_env\r\n"
                                       "echo N V > /proc/ticfg/mac_env\r\n");
    EXPECT_EQ(withoutLoginRetries(run.received[1]), login + "cat /proc/ticfg/mac_env\r\n");
    EXPECT_EQ(run.macSucceeded, 1);
    EXPECT_EQ(run.longPauses, std::vector<int>{2000});
    EXPECT_NE(run.setupAfter.find("start_mac=00:11:22:33:44:56\r\n"), std::string::npos) << run.setupAfter;
    EXPECT_EQ(run.setupAfter, setup.substr(0, setup.find("start_mac=")) + "start_mac=00:11:22:33:44:56" +
                                  setup.substr(setup.find("\r\n", setup.find("start_mac="))))
        << "every other line kept";
    }
}

// The block's last entry may take the address before the range's end; a
// block that would reach the end is refused with nothing written.
TEST(MacWriter, EntriesTakeConsecutiveAddressesUpToTheirRangesEnd) {
    const std::string fits = setupFor("127.0.0.102", writeMac("00:11:22:FF:FF:FD", "2", "0=A,B\r\n1=C\r\n"));
    const MacRun run = runMac("127.0.0.102", fits);
    EXPECT_EQ(run.result, 1);
    EXPECT_NE(run.received[0].find("echo A 00:11:22:FF:FF:FD > "), std::string::npos);
    EXPECT_NE(run.received[0].find("echo B 00:11:22:FF:FF:FD > "), std::string::npos);
    EXPECT_NE(run.received[0].find("echo C 00:11:22:FF:FF:FE > "), std::string::npos);
    EXPECT_NE(run.setupAfter.find("start_mac=00:11:22:FF:FF:FF\r\n"), std::string::npos) << run.setupAfter;

    const std::string past = setupFor("127.0.0.102", writeMac("00:11:22:FF:FF:FE", "3", "0=A\r\n1=B\r\n2=C\r\n"));
    const MacRun refused = runMac("127.0.0.102", past);
    EXPECT_EQ(refused.result, 0);
    EXPECT_EQ(refused.received[0], login) << "nothing written";
    EXPECT_EQ(refused.log.back(),
              "Can't take 3 MAC addresses from 00:11:22:FF:FF:FE: the range ends at 00:11:22:FF:FF:FF (1 left)");
    EXPECT_EQ(refused.setupAfter, past);
}

TEST(MacWriter, NoEntriesWritesNothingAndNormalisesStartMac) {
    const std::string setup = setupFor("127.0.0.103", "[WRITE_MAC]\r\npath=/proc/ticfg/mac_env\r\nstart_mac=00:11:22:aa:bb:cc\r\n"
                                                      "[WRITE_ENV]\r\npath=/proc/ticfg/mac_env\r\nnumber=0\r\n");
    const MacRun run = runMac("127.0.0.103", setup);
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(run.received[0], login);
    EXPECT_NE(run.setupAfter.find("start_mac=00:11:22:AA:BB:CC\r\n"), std::string::npos) << run.setupAfter;
    EXPECT_EQ(run.log.back(), "");
}

TEST(MacWriter, FailureExitsBeforeTheRouterIsWritten) {
    const struct {
        const char* what;
        std::string setup;
        std::string line;
    } cases[] = {
        {"no WRITE_MAC path", setupFor("127.0.0.104", "[WRITE_MAC]\r\nstart_mac=00:11:22:00:00:01\r\n"),
         "Can't read WRITE_MAC->path"},
        {"no start_mac", setupFor("127.0.0.104", "[WRITE_MAC]\r\npath=/proc/ticfg/mac_env\r\nnumber=1\r\n0=A\r\n"),
         "Can't read start_mac!"},
        {"MAC entry missing", setupFor("127.0.0.104", writeMac("00:11:22:00:00:01", "2", "0=A\r\n")),
         "Can't read WRITE_MAC->1"},
        {"no WRITE_ENV path",
         setupFor("127.0.0.104", "[WRITE_MAC]\r\npath=/proc/ticfg/mac_env\r\nstart_mac=00:11:22:00:00:01\r\n"),
         "Can't read WRITE_MAC->path"},
        {"environment entry missing",
         setupFor("127.0.0.104", "[WRITE_MAC]\r\npath=/proc/ticfg/mac_env\r\nstart_mac=00:11:22:00:00:01\r\n"
                                 "[WRITE_ENV]\r\npath=/x\r\nnumber=1\r\n"),
         "Can't read WRITE_ENV->0"},
    };
    for (const auto& c : cases) {
        const MacRun run = runMac("127.0.0.104", c.setup);
        EXPECT_EQ(run.result, 0) << c.what;
        EXPECT_EQ(run.log.back(), c.line) << c.what;
        EXPECT_EQ(run.received.size(), 1u) << c.what << ": no second connection";
        EXPECT_EQ(run.macSucceeded, 0) << c.what;
        EXPECT_EQ(run.setupAfter, c.setup) << c.what << ": setup.ini untouched";
    }
}

TEST(MacWriter, NoAddressNoRouterNoLogin) {
    const MacRun missing = runMac("127.0.0.105", "[SETUP]\r\nPC_IP=1\r\n");
    EXPECT_EQ(missing.log, (std::vector<std::string>{"process login procedure .....", "",
                                                     "Can't load SETUP->CPE_LAN_IP from " + missing.setupPath}));
    EXPECT_TRUE(missing.received.empty());

    const MacRun nobody = runMac("127.0.0.105", setupFor("127.0.0.106", writeMac("00:11:22:00:00:01", "1", "0=A\r\n")));
    EXPECT_EQ(nobody.log.back(), "Can't connect 127.0.0.106");

    const MacRun refused = runMac("127.0.0.107", "[SETUP]\r\nCPE_LAN_IP=127.0.0.107\r\nTelnet Username=admin\r\n"
                                                 "Telnet Password=wrong\r\n");
    EXPECT_EQ(refused.log.back(), "Can't login the router");
    EXPECT_EQ(refused.macSucceeded, 0);
}

// The router cannot create a file in a directory that does not exist: the
// read-back shows only its complaint, which names the file.
const std::string missingDir = "/no/such/dir/mac_file";

TEST(MacWriter, VerifyFailsWhenTheNameIsNotReadBack) {
    const MacRun notFound = runMac("127.0.0.108", setupFor("127.0.0.108", writeMac("00:11:22:00:00:01", "1", "0=ethaddr\r\n", missingDir)));
    EXPECT_EQ(notFound.log.back(), "Verify Fail : ethaddr != \"00:11:22:00:00:01\" (1)");
    EXPECT_NE(notFound.setupAfter.find("start_mac=00:11:22:00:00:01"), std::string::npos) << "block not advanced";
}

TEST(MacWriter, VerifyReadsEachNameFromItsOwnLine) {
    // The router names the file in its complaint: a name inside another
    // line is no variable of the listing.
    const MacRun inComplaint = runMac("127.0.0.111", setupFor("127.0.0.111", writeMac("00:11:22:00:00:01", "1", "0=mac_file\r\n", missingDir)));
    EXPECT_EQ(inComplaint.log.back(), "Verify Fail : mac_file != \"00:11:22:00:00:01\" (1)");
    // The environment overwrote the variable: its line holds no address.
    const MacRun noPrefix = runMac("127.0.0.111", setupFor("127.0.0.111", "[WRITE_MAC]\r\npath=/proc/ticfg/f\r\nnumber=1\r\n"
                                                                          "start_mac=00:11:22:00:00:01\r\n0=A\r\n[WRITE_ENV]\r\n"
                                                                          "path=/proc/ticfg/f\r\nnumber=1\r\n0=A,none\r\n"));
    EXPECT_EQ(noPrefix.log[noPrefix.log.size() - 1], "Verify Fail : 00:11:22 != \"00:11:22:00:00:01\" (2)");
    // A name that ends a longer one listed first, and an address that holds
    // a name: each is read from its own line.
    const MacRun own = runMac("127.0.0.111", setupFor("127.0.0.111", writeMac("00:11:22:00:00:0B", "3", "0=lan_mac\r\n1=mac\r\n2=C,B\r\n")));
    EXPECT_EQ(own.result, 1);
    EXPECT_EQ(std::vector<std::string>(own.log.end() - 6, own.log.end() - 2),
              (std::vector<std::string>{"Verify OK : lan_mac = \"00:11:22:00:00:0B\"", "Verify OK : mac = \"00:11:22:00:00:0C\"",
                                        "Verify OK : C = \"00:11:22:00:00:0D\"", "Verify OK : B = \"00:11:22:00:00:0D\""}));
}

TEST(MacWriter, VerifyFailsWhenTheAddressDiffers) {
    // The same name in two entries: the router keeps the later address.
    const MacRun differs = runMac("127.0.0.112", setupFor("127.0.0.112", writeMac("00:11:22:00:00:01", "2", "0=A\r\n1=A\r\n")));
    EXPECT_EQ(differs.log.back(), "Verify Fail : A = \"00:11:22:00:00:02\"");
    EXPECT_EQ(differs.macSucceeded, 0);
}

TEST(MacWriter, AnEnvironmentFailureLeavesTheBlockAdvanced) {
    // The environment goes to another file than the one read back.
    const std::string setup = setupFor("127.0.0.109", "[WRITE_MAC]\r\npath=/proc/ticfg/mac_env\r\nnumber=1\r\n"
                                                      "start_mac=00:11:22:00:00:01\r\n0=A\r\n"
                                                      "[WRITE_ENV]\r\npath=/proc/ticfg/other\r\nnumber=1\r\n0=N,V\r\n");
    const MacRun run = runMac("127.0.0.109", setup);
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.log.back(), "Verify Fail : N != \"V\"");
    EXPECT_EQ(run.log[run.log.size() - 2], "Verify OK : A = \"00:11:22:00:00:01\"");
    EXPECT_NE(run.setupAfter.find("start_mac=00:11:22:00:00:02"), std::string::npos) << run.setupAfter;
    EXPECT_EQ(run.macSucceeded, 0);
}

TEST(MacWriter, ASecondConnectionThatFailsLeavesTheBlockUnchanged) {
    const std::string setup = setupFor("127.0.0.110", writeMac("00:11:22:00:00:01", "1", "0=A\r\n"));
    // The router goes away as soon as the last line has arrived.
    Tweaks tweaks;
    tweaks.during = [](routersim::RouterSim& router) {
        for (int i = 0; i < 1000; ++i) {
            const auto received = router.received();
            if (!received.empty() && received[0].find("echo A ") != std::string::npos) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        router.stop();
    };
    const MacRun run = runMac("127.0.0.110", setup, tweaks);
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.log.back(), "Can't connect 127.0.0.110");
    EXPECT_NE(run.setupAfter.find("start_mac=00:11:22:00:00:01"), std::string::npos);
}

// A read-back longer than many receives (a real router's file easily is)
// verifies: the listing reaches the capture in the order it was sent.
TEST(MacWriter, ALongReadBackVerifies) {
    std::string filler;
    for (int i = 0; filler.size() < 64 * 1024; ++i) filler += "filler" + std::to_string(i) + " 00:11:22:99:99:99\n";
    Tweaks tweaks;
    tweaks.router = [&](routersim::Options& options) { options.files["/proc/ticfg/mac_env"] = filler; };
    const MacRun run = runMac("127.0.0.113", setupFor("127.0.0.113", writeMac("00:11:22:00:00:01", "2", "0=A,B\r\n1=C\r\n")), tweaks);
    EXPECT_EQ(run.result, 1) << run.log.back();
    EXPECT_EQ(run.log[run.log.size() - 3], "Verify OK : C = \"00:11:22:00:00:02\"");
    EXPECT_GT(run.file.size(), 64u * 1024u);
}

// Only a whole address is a block: anything else would write some other
// router's addresses, or none, and verify them as written.
TEST(MacWriter, AStartMacThatIsNotAnAddressIsRefusedBeforeAnythingIsWritten) {
    for (const char* startMac : {"00:11:22:zz:00:01", "", "\"00:11:22:aa:bb:cc\"", "00:11:22:33:44", "00-11-22-33-44-55",
                                 "00:11:22:33:44:5500", "0:11:22:33:44:555"}) {
        const std::string setup = setupFor("127.0.0.114", writeMac(startMac, "1", "0=A\r\n"));
        const MacRun run = runMac("127.0.0.114", setup);
        EXPECT_EQ(run.result, 0) << startMac;
        EXPECT_EQ(run.log.back(), "Can't read start_mac!") << startMac;
        ASSERT_EQ(run.received.size(), 1u) << startMac;
        EXPECT_EQ(run.received[0], login) << startMac << ": nothing written";
        EXPECT_EQ(run.setupAfter, setup) << startMac;
    }
}

TEST(MacWriter, LongCommandsAndEntriesWithoutAValue) {
    const std::string longPath = "/proc/ticfg/" + std::string(500, 'p');
    const MacRun tooLong = runMac("127.0.0.115", setupFor("127.0.0.115", writeMac("00:11:22:00:00:01", "1",
                                                                                  "0=" + std::string(511, 'n') + "\r\n", longPath)));
    EXPECT_EQ(tooLong.log.back(), "Command too long for the router (over 1023 characters): echo ...");
    EXPECT_EQ(tooLong.received[0], login) << "a command that does not fit is not sent at all";

    // An environment entry without a comma writes its name with an empty value.
    const MacRun noValue = runMac("127.0.0.115", setupFor("127.0.0.115", writeMac("00:11:22:00:00:01", "0", "") +
                                                                             "number=1\r\n0=N\r\n"));
    EXPECT_EQ(noValue.result, 1);
    EXPECT_EQ(noValue.received[0], login + "echo N  > /proc/ticfg/mac_env\r\n");
    EXPECT_EQ(noValue.log[3], "Writing N ");
    EXPECT_EQ(noValue.log[noValue.log.size() - 3], "Verify OK : N = \"\"");
}

// A profile whose writes report success but change nothing.
struct DeafProfile : platform::PosixProfile {
    using PosixProfile::PosixProfile;
    bool write(const char*, const char*, const std::string&) override { return true; }
};

// setup.ini in a directory that is read-only while the profile lives.
struct LockedDirectoryProfile : platform::PosixProfile {
    explicit LockedDirectoryProfile(const std::string& path)
        : PosixProfile(path), directory_(path.substr(0, path.rfind('/'))) {
        if (!test::setImmutable(directory_, true)) ADD_FAILURE() << "cannot make " << directory_ << " read-only here";
    }
    ~LockedDirectoryProfile() override { test::setImmutable(directory_, false); }
    std::string directory_;
};

// The next router's block must be in setup.ini before the stage may succeed.
TEST(MacWriter, AStartMacThatCannotBeWrittenFailsTheStage) {
    const std::string setup = setupFor("127.0.0.116", writeMac("00:11:22:00:00:01", "1", "0=A\r\n"));
    Tweaks deaf;
    deaf.profile = [](const std::string& path) { return std::make_unique<DeafProfile>(path); };
    const MacRun unchanged = runMac("127.0.0.116", setup, deaf);
    EXPECT_EQ(unchanged.log.back(), "Can't write start_mac to " + unchanged.setupPath);
    EXPECT_EQ(unchanged.macSucceeded, 0);

    // A UTF-16 file is read but never edited byte-wise.
    std::string wide = "\xFF\xFE";
    for (char c : setup) wide += std::string{c, '\0'};
    const MacRun utf16 = runMac("127.0.0.116", wide);
    EXPECT_EQ(utf16.log[utf16.log.size() - 2], "Verify OK : A = \"00:11:22:00:00:01\"");
    EXPECT_EQ(utf16.log.back(), "Can't write start_mac to " + utf16.setupPath);
    EXPECT_EQ(utf16.setupAfter, wide);

    // A directory no file can be created in.
    Tweaks readOnly;
    readOnly.profile = [](const std::string& path) { return std::make_unique<LockedDirectoryProfile>(path); };
    const MacRun locked = runMac("127.0.0.116", setup, readOnly);
    EXPECT_EQ(locked.log.back(), "Can't write start_mac to " + locked.setupPath);
    EXPECT_EQ(locked.setupAfter, setup);
}

}  // namespace
}  // namespace vornix

namespace vornix {
namespace {

// Prompt pacing: the same commands in the same order and the same log as
// fixed pacing, whatever the router's prompt; only the waits are shorter.
TEST(MacWriterPacing, PromptPacingSendsAndLogsWhatFixedPacingDoes) {
    const std::string entries = "number=1\r\nstart_mac=00:11:22:00:00:10\r\n0=A,B\r\n[WRITE_ENV]\r\npath=/proc/ticfg/mac_env\r\n"
                                "number=1\r\n0=N,VX100 /proc/ticfg $ # x\r\n";
    // What the router's file holds before: a read-back longer than one
    // receive of 4 KB, its lines ending like prompts.
    std::string long_;
    for (int i = 0; long_.size() < 12 * 1024; ++i) long_ += "note" + std::to_string(i) + " set it # \n";
    const struct {
        const char* prompt;
        int latency;
        std::string before;
    } routers[] = {{"# ", 0, ""}, {"VX100 {cwd} $ ", 50, ""}, {"# ", 200, ""}, {"{cwd} # ", 20, long_}};
    for (const auto& router : routers) {
        SCOPED_TRACE(std::string(router.prompt) + ", " + std::to_string(router.latency) + " ms, " +
                     std::to_string(router.before.size()) + " bytes in the file before");
        MacRun runs[2];
        for (int paced = 0; paced < 2; ++paced) {
            Tweaks tweaks;
            tweaks.router = [&](routersim::Options& options) {
                options.prompt = router.prompt;
                options.latencyMs = router.latency;
                if (!router.before.empty()) options.files["/proc/ticfg/mac_env"] = router.before;
            };
            const std::string setup = std::string("[Environment]\r\nPacing=") + (paced ? "prompt" : "fixed") + "\r\n" +
                                      setupFor("127.0.0.117", "[WRITE_MAC]\r\npath=/proc/ticfg/mac_env\r\n" + entries);
            runs[paced] = runMac("127.0.0.117", setup, tweaks);
        }
        EXPECT_EQ(runs[1].result, 1);
        EXPECT_EQ(runs[1].log, runs[0].log);
        EXPECT_EQ(runs[1].received, runs[0].received);
        EXPECT_EQ(runs[1].log[runs[1].log.size() - 3], "Verify OK : N = \"VX100 /proc/ticfg $ # x\"")
            << "a prompt inside a written value ends no wait early";
    }
}

// A router that shows no prompt gets the fixed waits: no shorter, and it works.
TEST(MacWriterPacing, WithoutAPromptTheWaitsAreTheFixedOnes) {
    Tweaks tweaks;
    tweaks.router = [](routersim::Options& options) {
        options.prompt = "";
        options.latencyMs = 20;
    };
    const std::string setup = "[Environment]\r\nPacing=prompt\r\n" +
                              setupFor("127.0.0.118", writeMac("00:11:22:00:00:10", "1", "0=A\r\n"));
    const auto began = std::chrono::steady_clock::now();
    const MacRun run = runMac("127.0.0.118", setup, tweaks);
    const auto took = std::chrono::steady_clock::now() - began;
    EXPECT_EQ(run.result, 1);
    // Two logins of four 100 ms sleeps (none after the user name: the
    // attempts wait for the answer) and eight attempts, one written line,
    // 50 ms and the 3000 ms read-back (the 2000 ms pause is only recorded).
    EXPECT_GE(took, std::chrono::milliseconds(2 * (400 + 8 * telnetWait) + telnetWait + 50 + 3000));
}

}  // namespace
}  // namespace vornix
