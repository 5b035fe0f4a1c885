#include "app/RunSequencer.h"

#include <chrono>
#include <thread>

#include "config/ConfigKeys.h"
#include "config/StationConfig.h"
#include "link/ReachabilityProbe.h"
#include "link/DetachedThread.h"

namespace vornix {

namespace {

const char* const stageNames[3] = {"MAC Writing", "BOOT Code Update", "Firmware Update"};

}  // namespace

// One run's own state. A probe thread keeps its run's record, so a probe
// left over from an earlier run can never mark a later run's router found.
struct RunSequencer::Run {
    std::mutex mutex;
    std::condition_variable probeEnded;
    bool probeDone = false;
    std::atomic<int> found{0};
    RunOutcome outcome;  // under mutex
    Event stageEnded[3];  // ends the sequencer's pause after starting that stage
};

RunSequencer::RunSequencer(StationContext& context, EchoPort& echo, Stages stages, int probeWaitMs)
    : context_(context), echo_(echo), stages_(std::move(stages)), probeWaitMs_(probeWaitMs) {}

RunSequencer::~RunSequencer() {
    std::unique_lock<std::mutex> lock(mutex_);
    ended_.wait(lock, [&] { return runningThreads_ == 0 && runningProbes_ == 0; });
}

bool RunSequencer::active() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return runningThreads_ > 0;
}

RunOutcome RunSequencer::waitForRun() const {
    std::shared_ptr<Run> run;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        ended_.wait(lock, [&] { return runningThreads_ == 0; });
        run = lastRun_;
    }
    if (!run) return RunOutcome();
    std::lock_guard<std::mutex> lock(run->mutex);
    return run->outcome;
}

void RunSequencer::aroundRuns(std::function<void()> starting, std::function<void(RunOutcome&)> ended) {
    runStarting_ = std::move(starting);
    runEnded_ = std::move(ended);
}

void RunSequencer::threadEnded(const std::shared_ptr<Run>& run) {
    {
        // Notified under the lock: once it is released the sequencer may be gone.
        std::lock_guard<std::mutex> lock(mutex_);
        if (runningThreads_ > 1 || !runEnded_) {
            --runningThreads_;
            ended_.notify_all();
            return;
        }
    }
    // The run's last thread: it stays counted while the run is rounded off.
    RunOutcome outcome;
    {
        std::lock_guard<std::mutex> lock(run->mutex);
        outcome = run->outcome;
    }
    runEnded_(outcome);
    {
        std::lock_guard<std::mutex> lock(run->mutex);
        run->outcome = outcome;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    --runningThreads_;
    ended_.notify_all();
}

bool RunSequencer::startPressed() {
    auto run = std::make_shared<Run>();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (runningThreads_ > 0) return false;
        runningThreads_ = 1;
        lastRun_ = run;
    }
    if (runStarting_) runStarting_();
    context_.console.clearLog();
    RunFlags& flags = context_.flags;
    flags.macSucceeded = 1;
    flags.macBusy = 0;
    flags.bootBusy = 0;
    flags.bootSucceeded = 1;
    flags.firmwareBusy = 0;
    flags.firmwareSucceeded = 1;
    try {
        platform::startDetached([this, run] {
            sequence(run);
            threadEnded(run);
        });
    } catch (...) {
        threadEnded(run);
        return false;
    }
    return true;
}

void RunSequencer::startStage(const std::shared_ptr<Run>& run, Stage stage) {
    RunFlags& flags = context_.flags;
    std::atomic<int>* const busy[3] = {&flags.macBusy, &flags.bootBusy, &flags.firmwareBusy};
    std::atomic<int>* const succeeded[3] = {&flags.macSucceeded, &flags.bootSucceeded, &flags.firmwareSucceeded};
    const Procedure procedures[3] = {stages_.macWriting, stages_.bootUpdate, stages_.firmwareUpdate};
    const int i = static_cast<int>(stage);
    *busy[i] = 1;
    context_.console.enableStart(false);
    {
        std::lock_guard<std::mutex> lock(run->mutex);
        run->outcome.stages[i] = StageResult::Failed;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++runningThreads_;
    }
    const Procedure procedure = procedures[i];
    try {
        if (!procedure) throw std::bad_function_call();
        platform::startDetached([this, run, procedure, i, ok = succeeded[i]] {
            const auto began = std::chrono::steady_clock::now();
            procedure();
            {
                std::lock_guard<std::mutex> lock(run->mutex);
                run->outcome.stages[i] = *ok == 1 ? StageResult::Succeeded : StageResult::Failed;
                run->outcome.stageMs[i] =
                    std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - began).count();
            }
            run->stageEnded[i].set();
            threadEnded(run);
        });
    } catch (...) {
        // No thread for it: the stage fails as it would on its own.
        context_.console.appendLog(std::string("Can't start ") + stageNames[i] + ": no thread could be made for it");
        *succeeded[i] = 0;
        context_.console.enableStart(true);
        *busy[i] = 0;
        run->stageEnded[i].set();
        threadEnded(run);
    }
}

void RunSequencer::sequence(std::shared_ptr<Run> run) {
    RunFlags& flags = context_.flags;
    const StationConfig config(context_.profile);
    echo_.flushArp();
    flags.routerFound = 0;

    // The probe thread: at most probeWaitMs for it, then the run goes on.
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++runningProbes_;
    }
    try {
        platform::startDetached([this, run] {
            const ConfigValue address = StationConfig(context_.profile).read(keys::cpeLanIp);
            if (address.missing) {
                context_.console.appendLog("Can't read CPE_LAN_IP");
            } else if (ReachabilityProbe(echo_, context_.pause).pingUntil(address.text, 1400)) {
                run->found = 1;
            }
            {
                std::lock_guard<std::mutex> lock(run->mutex);
                run->probeDone = true;
                run->probeEnded.notify_all();
            }
            std::lock_guard<std::mutex> lock(mutex_);
            --runningProbes_;
            ended_.notify_all();
        });
        std::unique_lock<std::mutex> lock(run->mutex);
        run->probeEnded.wait_for(lock, std::chrono::milliseconds(probeWaitMs_), [&] { return run->probeDone; });
    } catch (...) {
        // No probe thread: the router counts as not answering.
        std::lock_guard<std::mutex> lock(mutex_);
        --runningProbes_;
    }
    flags.routerFound = run->found.load();

    const ConfigValue address = config.read(keys::cpeLanIp);
    if (address.missing) {
        context_.console.appendLog("Can't read CPE_LAN_IP");
        return;
    }
    if (!flags.routerFound) {
        context_.console.appendLog("Can't ping " + address.text + "!");
        return;
    }
    context_.console.appendLog("Found " + address.text);

    {
        std::lock_guard<std::mutex> lock(run->mutex);
        run->outcome.routerFound = true;
    }
    auto chosen = [&](Stage stage) {
        if (!context_.console.stageChosen(stage)) return false;
        std::lock_guard<std::mutex> lock(run->mutex);
        run->outcome.stages[static_cast<int>(stage)] = StageResult::NotRun;
        return true;
    };

    // The pause after a start gives the stage time to count as busy; a
    // stage that is over by then ends it: the run is not kept waiting.
    if (chosen(Stage::MacWriting)) {
        startStage(run, Stage::MacWriting);
        context_.pause.sleepMsUnless(500, run->stageEnded[0]);
    }
    if (chosen(Stage::BootUpdate)) {
        while (flags.macBusy != 0) context_.pause.sleepMs(20);
        if (flags.macSucceeded == 0) return;
        startStage(run, Stage::BootUpdate);
        context_.pause.sleepMsUnless(500, run->stageEnded[1]);
    }
    if (!chosen(Stage::FirmwareUpdate)) return;
    while (flags.macBusy != 0 || flags.bootBusy != 0) context_.pause.sleepMs(20);
    if (flags.bootSucceeded == 0) return;
    startStage(run, Stage::FirmwareUpdate);
}

}  // namespace vornix
