#pragma once

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

namespace vornix::platform {

// Tests stop a process at a point of its own to act in that moment (kill
// it, or start another station beside it). With the environment variable
// set to a path, the process makes PATH.held and goes on once PATH exists,
// or after a minute, so that a test that failed never leaves it waiting.
inline void holdForTest(const char* variable) {
    const char* gate = std::getenv(variable);
    if (!gate || !*gate) return;
    std::ofstream(std::string(gate) + ".held").close();
    for (int waited = 0; waited < 60000 && !std::ifstream(gate); ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// The same at a line of a run's log: with VORNIX_TEST_HOLD_AT naming the
// start of a line and VORNIX_TEST_HOLD_PORT the port whose run holds (0 or
// unset: a one-port station's), the run holds right after logging the first
// such line, at the gate VORNIX_TEST_HOLD_GATE names.
class LineHold {
public:
    explicit LineHold(int port) {
        const char* at = std::getenv("VORNIX_TEST_HOLD_AT");
        const char* which = std::getenv("VORNIX_TEST_HOLD_PORT");
        if (at && *at && std::atoi(which ? which : "0") == port) at_ = at;
    }
    void after(const std::string& line) const {
        if (!at_.empty() && line.compare(0, at_.size(), at_) == 0) holdForTest("VORNIX_TEST_HOLD_GATE");
    }

private:
    std::string at_;
};

}  // namespace vornix::platform
