#pragma once

#include <atomic>

namespace vornix {

// How the stages of a run hand over: each procedure writes only its own
// pair (success first, busy last), the sequencer reads them. Atomic, so the
// order of writing is the order another thread sees.
struct RunFlags {
    std::atomic<int> bootBusy{0};
    std::atomic<int> bootSucceeded{0};
    std::atomic<int> macBusy{0};
    std::atomic<int> macSucceeded{0};
    std::atomic<int> firmwareBusy{0};
    std::atomic<int> firmwareSucceeded{0};
    std::atomic<int> routerFound{0};
};

}  // namespace vornix
