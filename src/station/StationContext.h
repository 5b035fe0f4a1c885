#pragma once

#include <functional>
#include <string>

#include "config/Profile.h"
#include "station/OperatorConsole.h"
#include "station/Pause.h"
#include "station/RunFlags.h"
#include "config/RouterPort.h"
#include "station/RunRecord.h"

namespace vornix {

// What a procedure runs in: the operator's console, setup.ini, the values
// fixed at start-up, the run's flags and the pause, and the record the run
// leaves (none in tests that do not ask for one).
struct StationContext {
    OperatorConsole& console;
    Profile& profile;
    std::string configPath;
    int telnetWait;
    RunFlags& flags;
    Pause& pause;
    RunRecord* record = nullptr;
    // The network port the router is on (a gang station's), or none.
    RouterPort port = RouterPort();
    // Asked when a stage has connected to the router, before it writes
    // anything: empty while the router may be written, else the stage's
    // failure line (a gang port whose packets reached another port's
    // router, or a router another port reached too). None: always empty.
    std::function<std::string()> routerReached = nullptr;

    template <typename Note>
    void note(Note note) {
        if (record) note(*record);
    }
};

}  // namespace vornix
