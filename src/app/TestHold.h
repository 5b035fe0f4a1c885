#pragma once

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

namespace vornix {

// Where tests stop a run to end it from outside at a moment of their
// choosing, instead of guessing one with a delay: VORNIX_TEST_HOLD_AT names
// the start of a log line, VORNIX_TEST_HOLD_PORT the port whose run holds
// (0, or unset: a one-port station's), VORNIX_TEST_HOLD_FILE the file made
// once the line is logged. The run then waits there until it is killed.
// Without VORNIX_TEST_HOLD_AT nothing happens.
class TestHold {
public:
    explicit TestHold(int port) {
        const char* at = std::getenv("VORNIX_TEST_HOLD_AT");
        const char* held = std::getenv("VORNIX_TEST_HOLD_FILE");
        const char* which = std::getenv("VORNIX_TEST_HOLD_PORT");
        if (!at || !*at || !held || std::atoi(which ? which : "0") != port) return;
        at_ = at;
        file_ = held;
    }

    // After each log line.
    void after(const std::string& line) const {
        if (at_.empty() || line.compare(0, at_.size(), at_) != 0) return;
        std::ofstream(file_) << "held\n";
        for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
    }

private:
    std::string at_, file_;
};

}  // namespace vornix
