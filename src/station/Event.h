#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace vornix {

// A manual-reset event: once set it stays set. Shared by whoever sets it and
// whoever waits on it, so it stays valid for the one that still holds it.
class Event {
public:
    void set() {
        std::lock_guard<std::mutex> lock(mutex_);
        set_ = true;
        changed_.notify_all();
    }
    bool isSet() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return set_;
    }
    // True when set within timeoutMs.
    bool waitFor(int timeoutMs) const {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return set_; });
    }

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    bool set_ = false;
};

}  // namespace vornix
