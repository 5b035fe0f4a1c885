#pragma once

#include <string>

#include "station/RouterPort.h"

namespace vornix::platform {

// Why the port cannot carry a run (its interface does not exist, is down,
// or does not hold the port's address), as a clause for the operator's
// line; empty when it can.
std::string portProblem(const RouterPort& port);

}  // namespace vornix::platform
