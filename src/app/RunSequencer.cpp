#include "app/RunSequencer.h"

#include <chrono>
#include <thread>

#include "config/ConfigKeys.h"
#include "config/StationConfig.h"
#include "link/ReachabilityProbe.h"

namespace vornix {

// One run's own state. A probe thread keeps its run's record, so a probe
// left over from an earlier run can never mark a later run's router found.
struct RunSequencer::Run {
    std::mutex mutex;
    std::condition_variable probeEnded;
    bool probeDone = false;
    std::atomic<int> found{0};

    std::atomic<bool> chosen[3] = {false, false, false};
    std::atomic<bool> started[3] = {false, false, false};
    std::atomic<bool> missing{false};
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

void RunSequencer::waitForRun() const {
    std::unique_lock<std::mutex> lock(mutex_);
    ended_.wait(lock, [&] { return runningThreads_ == 0; });
}

void RunSequencer::threadEnded() {
    // Notified under the lock: once it is released the sequencer may be gone.
    std::lock_guard<std::mutex> lock(mutex_);
    --runningThreads_;
    ended_.notify_all();
}

bool RunSequencer::lastRunSucceeded() const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!lastRun_ || !lastRun_->found) return false;
    const std::atomic<int>* succeeded[3] = {&context_.flags.macSucceeded, &context_.flags.bootSucceeded,
                                            &context_.flags.firmwareSucceeded};
    for (int stage = 0; stage < 3; ++stage)
        if (lastRun_->chosen[stage] && (!lastRun_->started[stage] || *succeeded[stage] != 1)) return false;
    return true;
}

bool RunSequencer::lastRunMissedAStage() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastRun_ && lastRun_->missing;
}

bool RunSequencer::startPressed() {
    auto run = std::make_shared<Run>();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (runningThreads_ > 0) return false;
        runningThreads_ = 1;
        lastRun_ = run;
    }
    context_.console.clearLog();
    RunFlags& flags = context_.flags;
    flags.macSucceeded = 1;
    flags.macBusy = 0;
    flags.bootBusy = 0;
    flags.bootSucceeded = 1;
    flags.firmwareBusy = 0;
    flags.firmwareSucceeded = 1;
    try {
        std::thread([this, run] {
            sequence(run);
            threadEnded();
        }).detach();
    } catch (...) {
        threadEnded();
        return false;
    }
    return true;
}

void RunSequencer::startStage(const Procedure& procedure, std::atomic<int>& busy) {
    busy = 1;
    context_.console.enableStart(false);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++runningThreads_;
    }
    try {
        std::thread([this, procedure] {
            procedure();
            threadEnded();
        }).detach();
    } catch (...) {
        busy = 0;
        context_.console.enableStart(true);
        threadEnded();
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
        std::thread([this, run] {
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
        }).detach();
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

    if (context_.console.stageChosen(Stage::MacWriting)) {
        run->chosen[0] = true;
        if (!stages_.macWriting) {
            run->missing = true;
            return;
        }
        run->started[0] = true;
        startStage(stages_.macWriting, flags.macBusy);
        context_.pause.sleepMs(500);
    }
    if (context_.console.stageChosen(Stage::BootUpdate)) {
        run->chosen[1] = true;
        while (flags.macBusy != 0) context_.pause.sleepMs(20);
        if (flags.macSucceeded == 0) return;
        if (!stages_.bootUpdate) {
            run->missing = true;
            return;
        }
        run->started[1] = true;
        startStage(stages_.bootUpdate, flags.bootBusy);
        context_.pause.sleepMs(500);
    }
    if (!context_.console.stageChosen(Stage::FirmwareUpdate)) return;
    run->chosen[2] = true;
    while (flags.macBusy != 0 || flags.bootBusy != 0) context_.pause.sleepMs(20);
    if (flags.bootSucceeded == 0) return;
    if (!stages_.firmwareUpdate) {
        run->missing = true;
        return;
    }
    run->started[2] = true;
    startStage(stages_.firmwareUpdate, flags.firmwareBusy);
}

}  // namespace vornix
