#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "station/OperatorConsole.h"

namespace vornix::test {

// The operator console as a recorder: the log, and every event in order
// ("log: ...", "start: on/off", "clear").
class RecordingConsole : public OperatorConsole {
public:
    bool chosen[3] = {false, false, false};

    void appendLog(const std::string& line) override { record("log: " + line, &line); }
    void clearLog() override {
        std::lock_guard<std::mutex> lock(mutex_);
        log_.clear();
        events_.push_back("clear");
    }
    void enableStart(bool enabled) override {
        std::lock_guard<std::mutex> lock(mutex_);
        startEnabled_ = enabled;
        events_.push_back(enabled ? "start: on" : "start: off");
    }
    bool stageChosen(Stage stage) override {
        std::lock_guard<std::mutex> lock(mutex_);
        return chosen[static_cast<int>(stage)];
    }
    void clearScratch() override {
        std::lock_guard<std::mutex> lock(mutex_);
        scratch_.clear();
    }
    void appendScratch(const std::string& item) override {
        std::lock_guard<std::mutex> lock(mutex_);
        scratch_.push_back(item);
    }
    int scratchCount() override {
        std::lock_guard<std::mutex> lock(mutex_);
        return static_cast<int>(scratch_.size());
    }
    std::string scratchItem(int index) override {
        std::lock_guard<std::mutex> lock(mutex_);
        return index >= 0 && static_cast<std::size_t>(index) < scratch_.size() ? scratch_[static_cast<std::size_t>(index)]
                                                                                : std::string();
    }

    std::vector<std::string> log() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return log_;
    }
    std::vector<std::string> events() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }
    bool startEnabled() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return startEnabled_;
    }

private:
    void record(const std::string& event, const std::string* line) {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(event);
        if (line) log_.push_back(*line);
    }
    mutable std::mutex mutex_;
    std::vector<std::string> log_, events_, scratch_;
    bool startEnabled_ = true;
};

}  // namespace vornix::test
