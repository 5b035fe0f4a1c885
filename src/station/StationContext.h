#pragma once

#include <string>

#include "config/Profile.h"
#include "station/OperatorConsole.h"
#include "station/Pause.h"
#include "station/RunFlags.h"

namespace vornix {

// What a procedure runs in: the operator's console, setup.ini, the values
// fixed at start-up, the run's flags and the pause.
struct StationContext {
    OperatorConsole& console;
    Profile& profile;
    std::string configPath;
    int telnetWait;
    RunFlags& flags;
    Pause& pause;
};

}  // namespace vornix
