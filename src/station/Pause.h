#pragma once

#include <chrono>
#include <thread>

namespace vornix {

// The pause port: the station's dialogue is paced by fixed waits. Tests put
// a recorder here, so timing is asserted rather than waited for.
class Pause {
public:
    virtual ~Pause() = default;
    virtual void sleepMs(int milliseconds) = 0;
};

class RealPause : public Pause {
public:
    void sleepMs(int milliseconds) override {
        if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
};

}  // namespace vornix
