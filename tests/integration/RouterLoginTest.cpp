// RouterLogin against the simulated router over real telnet on loopback:
// the outcome and exactly the bytes the router received.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "RouterSim.h"
#include "config/IniProfile.h"
#include "link/Pacer.h"
#include "link/ResponseCapture.h"
#include "link/RouterLogin.h"
#include "link/TelnetChannel.h"
#include "support/LoopbackServer.h"
#include "support/ProcessCensus.h"
#include "support/TempDir.h"

namespace vornix {
namespace {

bool noReplace(const std::string&, const std::string&) { return false; }

constexpr int telnetWait = 300;

struct LoginRun {
    int result = -1;
    std::string received;
};

LoginRun loginAgainst(routersim::Options options, const std::string& setupIni, bool promptPacing = false) {
    // Threads and descriptors of this process: none may be left behind.
    const std::size_t threadsBefore = test::baselineThreadCount();
    const std::size_t descriptorsBefore = test::descriptorCount();
    test::TempDir dir;
    IniProfile profile(dir.write("setup.ini", setupIni), &noReplace);
    routersim::RouterSim router(options);
    std::string error;
    EXPECT_TRUE(router.start(&error)) << error;
    TelnetChannel channel;
    LoginRun run;
    EXPECT_EQ(channel.connect(options.address, options.port), 1);
    RealPause pause;
    Pacer pacer(pause, promptPacing);
    run.result = RouterLogin(profile, telnetWait, pause, &pacer).login(channel);
    channel.close();
    EXPECT_TRUE(awaitCollectors(3000)) << "collectors left behind";
    router.stop();
    const auto received = router.received();
    if (!received.empty()) run.received = received.front();
    EXPECT_EQ(test::threadsSettleTo(threadsBefore), threadsBefore) << "threads left behind";
    EXPECT_EQ(test::descriptorCount(), descriptorsBefore) << "descriptors left behind";
    return run;
}

routersim::Options router(const char* address) {
    routersim::Options options;
    options.address = address;
    options.port = 23;
    options.user = "admin";
    options.password = "secret";
    return options;
}

const std::string setup = "[SETUP]\r\nTelnet Username=admin\r\nTelnet Password=secret\r\n";
const std::string shellDialogue = "admin\r\nsecret\r\ncd /proc/ticfg\r\nls env\r\ncat env\r\n";

TEST(RouterLogin, ReachesTheShellAndTheEnvironment) {
    const LoginRun run = loginAgainst(router("127.0.0.81"), setup);
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(run.received, shellDialogue);
    EXPECT_GE(ResponseCapture::instance().find("bootloaderVersion"), 0);
}

TEST(RouterLogin, LeavesTheCommandLineModeWithShell) {
    routersim::Options options = router("127.0.0.82");
    options.cliMode = true;
    const LoginRun run = loginAgainst(options, setup);
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(run.received, "admin\r\nsecret\r\nshell\r\ncd /proc/ticfg\r\nls env\r\ncat env\r\n");
}

TEST(RouterLogin, AnAbsentUserNameSendsAnEmptyLine) {
    routersim::Options options = router("127.0.0.83");
    options.user = "";
    const LoginRun run = loginAgainst(options, "[SETUP]\r\nTelnet Password=secret\r\n");
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(run.received, "\r\nsecret\r\ncd /proc/ticfg\r\nls env\r\ncat env\r\n");
}

TEST(RouterLogin, NullCredentialsStopBeforeTheyAreSent) {
    const LoginRun user = loginAgainst(router("127.0.0.84"), "[SETUP]\r\nTelnet Username=null\r\nTelnet Password=secret\r\n");
    EXPECT_EQ(user.result, 0);
    EXPECT_EQ(user.received, "") << "nothing at all is sent";
    const LoginRun password = loginAgainst(router("127.0.0.84"), "[SETUP]\r\nTelnet Username=admin\r\n");
    EXPECT_EQ(password.result, 0);
    EXPECT_EQ(password.received, "admin\r\n") << "the password default NULL is never sent";
}

TEST(RouterLogin, ALowerCasePromptIsNotRecognised) {
    routersim::Options options = router("127.0.0.85");
    options.lowercasePrompt = true;
    const LoginRun run = loginAgainst(options, setup);
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.received, "admin\r\n");
}

TEST(RouterLogin, AnEnvironmentWithoutBootloaderVersionFails) {
    routersim::Options options = router("127.0.0.86");
    options.bootloaderVersion = false;
    const LoginRun run = loginAgainst(options, setup);
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.received, shellDialogue);
}

}  // namespace
}  // namespace vornix

namespace vornix {
namespace {

// A router that answers at once, or within the station's pauses, logs in
// with exactly the same bytes as a slow one: the clear after a command keeps
// what the router answered to it. In prompt pacing too, where the name waits
// for the router's "login:": a router that keeps what was typed ahead gets
// the bytes fixed pacing sends.
TEST(RouterLogin, RoutersOfEveryLatencyLogInInBothPacings) {
    for (const bool prompt : {false, true})
        for (int latency : {0, 20, 40, 200}) {
            SCOPED_TRACE(std::string(prompt ? "prompt" : "fixed") + " pacing, " + std::to_string(latency) + " ms");
            routersim::Options options = router("127.0.0.87");
            options.latencyMs = latency;
            options.cliMode = latency == 20;
            const LoginRun run = loginAgainst(options, setup, prompt);
            EXPECT_EQ(run.result, 1);
            EXPECT_EQ(run.received, options.cliMode ? "admin\r\nsecret\r\nshell\r\ncd /proc/ticfg\r\nls env\r\ncat env\r\n"
                                                    : shellDialogue);
        }
}

}  // namespace
}  // namespace vornix

namespace vornix {
namespace {

// A router whose login asks with "Username: ", never "login:": the first
// login gives it the name after TELNETWAITTIME, as fixed pacing would; once
// it asked for the password, its prompt is known, and the next login of the
// stage types the name as soon as it shows. This router gives up on a name
// that is not there within 1.5 s of its prompt.
TEST(RouterLogin, PromptPacingLearnsALoginPromptOtherThanLogin) {
    constexpr int longWait = 3000;
    test::TempDir dir;
    IniProfile profile(dir.write("setup.ini", setup), &noReplace);
    RealPause pause;
    Pacer pacer(pause, true);
    bool tookName[2] = {false, false};
    const char* addresses[2] = {"127.0.0.89", "127.0.0.90"};
    for (int login = 0; login < 2; ++login) {
        test::LoopbackServer router(addresses[login]);
        TelnetChannel channel;
        ASSERT_EQ(channel.connect(router.address(), router.port()), 1);
        ASSERT_TRUE(router.waitForClient());
        std::thread station([&] { RouterLogin(profile, longWait, pause, &pacer).login(channel); });
        router.send("\r\nVX100 router\r\nUsername: ");
        tookName[login] = router.received(7, login == 0 ? 2 * longWait : 1500) == "admin\r\n";
        if (tookName[login]) router.send("admin\r\nPassword: ");
        router.received(15);  // the password
        router.closeClient();
        station.join();
        channel.close();
        EXPECT_TRUE(awaitCollectors(3000));
    }
    EXPECT_TRUE(tookName[0]);
    EXPECT_TRUE(tookName[1]) << "the second login waited TELNETWAITTIME again";
    EXPECT_EQ(pacer.loginPrompt(), "Username:");
}

}  // namespace
}  // namespace vornix
