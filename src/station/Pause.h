#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace vornix {

// What a pause can be ended by: an event that happens once, set from any thread.
class Wake {
public:
    void set() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            set_ = true;
        }
        changed_.notify_all();
    }
    // Until set, at most milliseconds; whether it was set.
    bool waitMs(int milliseconds) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return set_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool set_ = false;
};

// The pause port: the station's dialogue is paced by fixed waits. Tests put
// a recorder here, so timing is asserted rather than waited for.
class Pause {
public:
    virtual ~Pause() = default;
    virtual void sleepMs(int milliseconds) = 0;
    // A pause that is over once what it gives time to has happened (wake
    // set), at the latest after milliseconds. Recorders keep this one: the
    // pause as it was asked for.
    virtual void sleepMsUnless(int milliseconds, Wake& wake) {
        (void)wake;
        sleepMs(milliseconds);
    }
};

class RealPause : public Pause {
public:
    void sleepMs(int milliseconds) override {
        if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
    void sleepMsUnless(int milliseconds, Wake& wake) override {
        if (milliseconds > 0) wake.waitMs(milliseconds);
    }
};

}  // namespace vornix
