#pragma once

#include <string>

namespace vornix {

// The network port a run reaches its router through. On a one-port station
// there is none and the routing table decides; on a gang station every
// router has the same address, so each run's packets must leave by its own
// port, whatever the routing table says.
// A gang station's ports are numbered 1 to maxPorts.
constexpr int maxPorts = 8;

struct RouterPort {
    int number = 0;             // 1 to maxPorts on a gang station, 0 on a one-port station
    std::string interfaceName;  // Linux: the interface's name; Windows: the adapter's alias or index
    std::string localAddress;   // this PC's address on that port, dotted IPv4
    std::string gangRun = "";   // the tag of the gang run the port's run is part of, or empty
    bool bound() const { return number > 0; }
};

}  // namespace vornix
