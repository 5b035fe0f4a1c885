#pragma once

#include <chrono>
#include <thread>

#include "station/Event.h"

namespace vornix {

// The pause port: the station's dialogue is paced by fixed waits. Tests put
// a recorder here, so timing is asserted rather than waited for.
class Pause {
public:
    virtual ~Pause() = default;
    virtual void sleepMs(int milliseconds) = 0;
    // A pause that is over once what it gives time to has happened (wake
    // set), at the latest after milliseconds. Recorders keep this one: the
    // pause as it was asked for.
    virtual void sleepMsUnless(int milliseconds, const Event& wake) {
        (void)wake;
        sleepMs(milliseconds);
    }
};

class RealPause : public Pause {
public:
    void sleepMs(int milliseconds) override {
        if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
    void sleepMsUnless(int milliseconds, const Event& wake) override {
        if (milliseconds > 0) wake.waitFor(milliseconds);
    }
};

}  // namespace vornix
