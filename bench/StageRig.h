#pragma once

// What a benchmark runs one stage in: a console that shows nothing and keeps
// the last log line, so that a stage that failed is reported with its reason
// instead of as a figure; setup.ini of the benchmark's directory; real pauses.
#include <mutex>
#include <string>
#include <vector>

#include "platform/posix/PosixProfile.h"
#include "station/OperatorConsole.h"
#include "station/Pause.h"
#include "station/RunFlags.h"
#include "station/StationContext.h"

namespace bench {

class LastLineConsole : public vornix::OperatorConsole {
public:
    explicit LastLineConsole(vornix::Stage stage) : stage_(stage) {}
    void appendLog(const std::string& line) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!line.empty()) last_ = line;
    }
    void clearLog() override {}
    void enableStart(bool) override {}
    bool stageChosen(vornix::Stage stage) override { return stage == stage_; }
    void clearScratch() override { scratch_.clear(); }
    void appendScratch(const std::string& item) override { scratch_.push_back(item); }
    int scratchCount() override { return static_cast<int>(scratch_.size()); }
    std::string scratchItem(int index) override {
        return index >= 0 && index < scratchCount() ? scratch_[static_cast<std::size_t>(index)] : std::string();
    }
    std::string last() {
        std::lock_guard<std::mutex> lock(mutex_);
        return last_;
    }

private:
    vornix::Stage stage_;
    std::mutex mutex_;
    std::string last_;
    std::vector<std::string> scratch_;  // the stage's own thread only
};

struct StageRig {
    StageRig(vornix::Stage stage, const std::string& setupIni, int telnetWait)
        : console(stage), profile(setupIni), context{console, profile, setupIni, telnetWait, flags, pause} {}
    LastLineConsole console;
    vornix::platform::PosixProfile profile;
    vornix::RunFlags flags;
    vornix::RealPause pause;
    vornix::StationContext context;
};

}  // namespace bench
