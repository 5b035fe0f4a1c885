#pragma once

#include <string>

#include "config/RouterPort.h"

namespace vornix::platform {

// Why the port cannot carry a run (its interface does not exist, is down,
// or does not hold the port's address), as a clause for the operator's
// line; empty when it can.
std::string portProblem(const RouterPort& port);

// Which adapter the port names, as the system numbers its interfaces; 0
// when it names none. Two ports that name one adapter, by two names, are
// told apart by it.
unsigned long portInterfaceIndex(const RouterPort& port);

// The hardware address that the neighbour table of the port's own interface
// (of any interface, for a one-port station) holds for the IPv4 address, as
// six upper-case pairs: the router the port's packets reached. Empty when it
// holds none, or none resolved.
std::string neighbourAddress(const RouterPort& port, const std::string& address);

}  // namespace vornix::platform
