// The run sequencer with a scripted echo port, recorded console and pauses,
// and stand-in stages that report through their flags.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <thread>

#include "app/RunSequencer.h"
#include "config/IniProfile.h"
#include "support/RecordingConsole.h"
#include "support/TempDir.h"

namespace vornix {
namespace {

bool noReplace(const std::string&, const std::string&) { return false; }

// Answers every echo with the same outcome; a gate can hold the answers back.
struct ScriptedEcho : EchoPort {
    std::atomic<bool> answers{true};
    std::atomic<int> flushes{0};
    std::atomic<int> echoes{0};
    std::mutex mutex;
    std::condition_variable opened;
    bool gateOpen = true;
    bool load() override { return true; }
    EchoReply echo(const std::string&, int, int, const std::string& payload) override {
        ++echoes;
        std::unique_lock<std::mutex> lock(mutex);
        opened.wait(lock, [&] { return gateOpen; });
        return answers ? EchoReply{true, 1, 0, payload} : EchoReply{};
    }
    void flushArp() override { ++flushes; }
    void setGate(bool open) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            gateOpen = open;
        }
        opened.notify_all();
    }
};

// Pauses are recorded, not slept; a yield keeps the busy-flag loops polite.
struct YieldingPause : Pause {
    void sleepMs(int) override { std::this_thread::yield(); }
};

struct Station {
    test::TempDir dir;
    IniProfile profile{dir.write("setup.ini", "[SETUP]\r\nCPE_LAN_IP=192.168.1.1\r\n"), &noReplace};
    test::RecordingConsole console;
    RunFlags flags;
    YieldingPause pause;
    ScriptedEcho echo;
    StationContext context{console, profile, dir.file("setup.ini"), 500, flags, pause};

    // A stand-in stage: its first step, one log line, then its outcome.
    RunSequencer::Procedure stage(const char* name, std::atomic<int>& busy, std::atomic<int>& succeeded,
                                  bool success) {
        return [this, name, &busy, &succeeded, success] {
            busy = 1;
            succeeded = 0;
            console.appendLog(std::string(name) + " runs");
            console.enableStart(true);
            if (success) succeeded = 1;
            busy = 0;
        };
    }
};

TEST(RunSequencer, NoStageChosenOnlyFindsTheRouter) {
    Station s;
    RunSequencer sequencer(s.context, s.echo, {});
    ASSERT_TRUE(sequencer.startPressed());
    const RunOutcome outcome = sequencer.waitForRun();
    EXPECT_EQ(s.console.log(), std::vector<std::string>{"Found 192.168.1.1"});
    for (const auto& e : s.console.events()) EXPECT_NE(e, "start: off") << "Start stays enabled";
    EXPECT_GE(s.echo.flushes, 2) << "arp -d by the sequencer and around the probe";
    EXPECT_EQ(s.flags.routerFound, 1);
    EXPECT_TRUE(outcome.succeeded());
}

TEST(RunSequencer, MissingOrSilentRouterEndsTheRun) {
    {
        Station s;
        s.dir.write("setup.ini", "[SETUP]\r\nPC_IP=1.2.3.4\r\n");
        RunSequencer sequencer(s.context, s.echo, {});
        sequencer.startPressed();
        const RunOutcome outcome = sequencer.waitForRun();
        EXPECT_EQ(s.console.log(), (std::vector<std::string>{"Can't read CPE_LAN_IP", "Can't read CPE_LAN_IP"}));
        EXPECT_GE(s.echo.flushes, 1) << "arp -d has still been run";
        EXPECT_EQ(s.echo.echoes, 0);
        EXPECT_FALSE(outcome.succeeded());
    }
    {
        Station s;
        s.echo.answers = false;
        s.console.chosen[0] = true;
        bool ran = false;
        RunSequencer sequencer(s.context, s.echo, {[&] { ran = true; }, {}, {}});
        sequencer.startPressed();
        sequencer.waitForRun();
        EXPECT_EQ(s.console.log(), std::vector<std::string>{"Can't ping 192.168.1.1!"});
        EXPECT_EQ(s.echo.echoes, 14);
        EXPECT_FALSE(ran);
    }
    {
        Station s;
        s.dir.write("setup.ini", "[SETUP]\r\nCPE_LAN_IP=\r\n");
        RunSequencer sequencer(s.context, s.echo, {});
        sequencer.startPressed();
        sequencer.waitForRun();
        EXPECT_EQ(s.console.log(), std::vector<std::string>{"Found "}) << "present but empty is not missing";
    }
}

TEST(RunSequencer, StartIsDisabledBeforeAStageAndTheStageEnablesIt) {
    Station s;
    s.console.chosen[0] = true;
    RunSequencer sequencer(s.context, s.echo, {s.stage("MAC", s.flags.macBusy, s.flags.macSucceeded, true), {}, {}});
    sequencer.startPressed();
    const RunOutcome outcome = sequencer.waitForRun();
    EXPECT_EQ(s.console.events(),
              (std::vector<std::string>{"clear", "log: Found 192.168.1.1", "start: off", "log: MAC runs", "start: on"}));
    EXPECT_TRUE(outcome.succeeded());
    EXPECT_EQ(outcome.stage(Stage::MacWriting), StageResult::Succeeded);
    EXPECT_EQ(outcome.stage(Stage::BootUpdate), StageResult::NotChosen);
}

// The pause after a stage's start is over when the stage is: a run whose
// stages are done ends then, not half a second later.
TEST(RunSequencer, ThePauseAfterAStageIsOverWhenTheStageIs) {
    struct UntilWoken : YieldingPause {
        std::atomic<int> woken{0}, pauses{0};
        void sleepMsUnless(int milliseconds, const Event& wake) override {
            ++pauses;
            EXPECT_EQ(milliseconds, 500);
            woken += wake.waitFor(60000);
        }
    };
    Station s;
    UntilWoken pause;
    StationContext context{s.console, s.profile, s.dir.file("setup.ini"), 500, s.flags, pause};
    s.console.chosen[0] = s.console.chosen[1] = true;
    RunSequencer sequencer(context, s.echo,
                           {s.stage("MAC", s.flags.macBusy, s.flags.macSucceeded, true),
                            s.stage("BOOT", s.flags.bootBusy, s.flags.bootSucceeded, true), {}});
    sequencer.startPressed();
    EXPECT_TRUE(sequencer.waitForRun().succeeded());
    EXPECT_EQ(pause.pauses, 2);
    EXPECT_EQ(pause.woken, 2) << "each stage's end ended its pause";
}

// A stage that gets no thread fails as it would on its own: a line, its
// success flag 0, Start enabled again, and no later stage.
TEST(RunSequencer, AStageThatCannotStartFails) {
    Station s;
    s.console.chosen[0] = s.console.chosen[1] = true;
    RunSequencer sequencer(s.context, s.echo, {{}, s.stage("BOOT", s.flags.bootBusy, s.flags.bootSucceeded, true), {}});
    sequencer.startPressed();
    const RunOutcome outcome = sequencer.waitForRun();
    EXPECT_EQ(s.console.log(), (std::vector<std::string>{"Found 192.168.1.1",
                                                         "Can't start MAC Writing: no thread could be made for it"}));
    EXPECT_EQ(s.flags.macSucceeded, 0);
    EXPECT_EQ(s.flags.macBusy, 0);
    EXPECT_TRUE(s.console.startEnabled());
    EXPECT_EQ(outcome.stage(Stage::MacWriting), StageResult::Failed);
    EXPECT_EQ(outcome.stage(Stage::BootUpdate), StageResult::NotRun);
}

TEST(RunSequencer, LaterStagesAreGatedOnEarlierOnes) {
    const struct {
        const char* what;
        bool chosen[3];
        bool succeeds[3];
        std::vector<std::string> log;
        bool success;
        std::vector<StageResult> results;
    } cases[] = {
        {"all succeed", {true, true, true}, {true, true, true},
         {"Found 192.168.1.1", "MAC runs", "BOOT runs", "FIRMWARE runs"}, true,
         {StageResult::Succeeded, StageResult::Succeeded, StageResult::Succeeded}},
        {"MAC fails: boot and firmware do not start", {true, true, true}, {false, true, true},
         {"Found 192.168.1.1", "MAC runs"}, false, {StageResult::Failed, StageResult::NotRun, StageResult::NotChosen}},
        {"boot fails: firmware does not start", {false, true, true}, {true, false, true},
         {"Found 192.168.1.1", "BOOT runs"}, false, {StageResult::NotChosen, StageResult::Failed, StageResult::NotRun}},
        {"only boot starts at once", {false, true, false}, {true, true, true}, {"Found 192.168.1.1", "BOOT runs"}, true,
         {StageResult::NotChosen, StageResult::Succeeded, StageResult::NotChosen}},
        {"without boot, firmware follows a failed MAC stage", {true, false, true}, {false, true, true},
         {"Found 192.168.1.1", "MAC runs", "FIRMWARE runs"}, false,
         {StageResult::Failed, StageResult::NotChosen, StageResult::Succeeded}},
    };
    for (const auto& c : cases) {
        Station s;
        for (int i = 0; i < 3; ++i) s.console.chosen[i] = c.chosen[i];
        RunSequencer sequencer(s.context, s.echo,
                               {s.stage("MAC", s.flags.macBusy, s.flags.macSucceeded, c.succeeds[0]),
                                s.stage("BOOT", s.flags.bootBusy, s.flags.bootSucceeded, c.succeeds[1]),
                                s.stage("FIRMWARE", s.flags.firmwareBusy, s.flags.firmwareSucceeded, c.succeeds[2])});
        sequencer.startPressed();
        const RunOutcome outcome = sequencer.waitForRun();
        EXPECT_EQ(s.console.log(), c.log) << c.what;
        EXPECT_EQ(outcome.succeeded(), c.success) << c.what;
        EXPECT_EQ(std::vector<StageResult>(outcome.stages, outcome.stages + 3), c.results) << c.what;
        EXPECT_TRUE(s.console.startEnabled()) << c.what;
    }
}

TEST(RunSequencer, APressDuringARunStartsNothingBesideIt) {
    Station s;
    s.console.chosen[0] = true;
    std::mutex mutex;
    std::condition_variable released;
    bool release = false;
    RunSequencer sequencer(s.context, s.echo, {[&] {
                               s.flags.macBusy = 1;
                               std::unique_lock<std::mutex> lock(mutex);
                               released.wait(lock, [&] { return release; });
                               s.flags.macSucceeded = 1;
                               s.flags.macBusy = 0;
                           },
                                               {}, {}});
    ASSERT_TRUE(sequencer.startPressed());
    while (s.flags.macBusy == 0) std::this_thread::yield();
    EXPECT_TRUE(sequencer.active());
    EXPECT_FALSE(sequencer.startPressed()) << "a second run beside the first";
    EXPECT_EQ(s.console.log(), std::vector<std::string>{"Found 192.168.1.1"}) << "the log was not emptied";
    {
        std::lock_guard<std::mutex> lock(mutex);
        release = true;
    }
    released.notify_all();
    sequencer.waitForRun();
    EXPECT_FALSE(sequencer.active());
    EXPECT_TRUE(sequencer.startPressed()) << "the next run, once this one is over";
    sequencer.waitForRun();
}

// The first echo of a test waits at its own gate and then answers; every
// later echo waits at a second gate and answers as told.
struct TwoGateEcho : EchoPort {
    std::atomic<int> calls{0};
    std::mutex mutex;
    std::condition_variable opened;
    bool firstOpen = false, restOpen = false;
    bool load() override { return true; }
    EchoReply echo(const std::string&, int, int, const std::string& payload) override {
        const bool first = ++calls == 1;
        std::unique_lock<std::mutex> lock(mutex);
        opened.wait(lock, [&] { return first ? firstOpen : restOpen; });
        return first ? EchoReply{true, 1, 0, payload} : EchoReply{};
    }
    void flushArp() override {}
    void open(bool first) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            (first ? firstOpen : restOpen) = true;
        }
        opened.notify_all();
    }
};

TEST(RunSequencer, AProbeLeftOverFromAnEarlierRunNeverFindsTheRouterForALaterOne) {
    Station s;
    TwoGateEcho echo;
    RunSequencer sequencer(s.context, echo, {}, 400);
    sequencer.startPressed();  // its probe hangs in the first echo
    sequencer.waitForRun();
    EXPECT_EQ(s.console.log(), std::vector<std::string>{"Can't ping 192.168.1.1!"});

    sequencer.startPressed();  // the second run's probe hangs in its own echo
    while (echo.calls < 2) std::this_thread::yield();
    echo.open(true);  // the first run's probe now gets its answer, too late
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    echo.open(false);  // the second run's router stays silent
    sequencer.waitForRun();
    EXPECT_EQ(s.console.log(), std::vector<std::string>{"Can't ping 192.168.1.1!"});
    EXPECT_EQ(s.flags.routerFound, 0);
}

}  // namespace
}  // namespace vornix
