#pragma once

#include <mutex>
#include <vector>

#include "station/Pause.h"

namespace vornix::test {

// Records the pauses instead of sleeping them.
class RecordingPause : public Pause {
public:
    void sleepMs(int milliseconds) override {
        std::lock_guard<std::mutex> lock(mutex_);
        pauses_.push_back(milliseconds);
    }
    std::vector<int> pauses() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return pauses_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<int> pauses_;
};

}  // namespace vornix::test
