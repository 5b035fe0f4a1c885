#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

#include "link/EchoPort.h"
#include "station/RunOutcome.h"
#include "station/StationContext.h"

namespace vornix {

// What one press of Start sets going: the reachability check, then the
// chosen stages in their fixed order, each on a thread of its own, the later
// ones gated on the earlier ones' flags.
class RunSequencer {
public:
    // A stage runs whole on the thread it is given and reports through its
    // flags and the log.
    using Procedure = std::function<void()>;
    struct Stages {
        Procedure macWriting, bootUpdate, firmwareUpdate;
    };

    // probeWaitMs: how long the sequencer waits for the probe (1500 ms; tests shorten it).
    RunSequencer(StationContext& context, EchoPort& echo, Stages stages, int probeWaitMs = 1500);
    // Waits for every thread a run started, a probe still trying included.
    ~RunSequencer();
    RunSequencer(const RunSequencer&) = delete;
    RunSequencer& operator=(const RunSequencer&) = delete;

    // The Start press, on the console's thread; returns at once. False, and
    // nothing done, while a run is still active (its sequencer or any stage
    // it started still running): one run never starts beside another.
    bool startPressed();

    // What the station does around every run: starting() before the log is
    // emptied, ended(outcome) on the run's last thread once everything the
    // run started is over, while the run still counts as active (no Start
    // comes between); it may change the outcome. Set before the first run.
    void aroundRuns(std::function<void()> starting, std::function<void(RunOutcome&)> ended);

    bool active() const;
    // Until the run's sequencer and every stage it started have ended; how
    // the last run went.
    RunOutcome waitForRun() const;

private:
    struct Run;
    void sequence(std::shared_ptr<Run> run);
    // Starts a stage on its own thread, counted busy from this moment; a
    // stage that cannot start fails with a line.
    void startStage(const std::shared_ptr<Run>& run, Stage stage);
    // A thread of the run is over; the last one ends the run.
    void threadEnded(const std::shared_ptr<Run>& run);

    StationContext& context_;
    EchoPort& echo_;
    Stages stages_;
    int probeWaitMs_;
    std::function<void()> runStarting_;
    std::function<void(RunOutcome&)> runEnded_;

    mutable std::mutex mutex_;
    mutable std::condition_variable ended_;
    int runningThreads_ = 0;  // sequencer and stages: a run is active while any runs
    int runningProbes_ = 0;   // a probe may outlive its run; it never blocks the next
    std::shared_ptr<Run> lastRun_;
};

}  // namespace vornix
