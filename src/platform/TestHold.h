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

}  // namespace vornix::platform
