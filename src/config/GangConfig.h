#pragma once

#include <string>
#include <vector>

#include "config/Profile.h"

namespace vornix {

// A gang station's ports, from setup.ini's [GANG] section:
//   Ports=N (1-8), PortK=<interface>, PortK_PC_IP=<this PC's address on it>.
// Every port's router has the same address (CPE_LAN_IP); each is reached
// through its own port only.
struct GangPortConfig {
    int number = 0;
    std::string interfaceName;
    std::string pcIp;
    std::string problem;  // why setup.ini does not let it run, or empty
};

struct GangConfig {
    static constexpr const char* section = "GANG";
    bool present = false;  // the section has a Ports key
    std::string problem;   // why no port can run (Ports out of range), or empty
    std::vector<GangPortConfig> ports;
};

GangConfig readGangConfig(Profile& profile);
// Port number's entry alone (read afresh, as every value is).
GangPortConfig readGangPort(Profile& profile, int number);
// The key of port number's PC address: "PortK_PC_IP".
std::string gangPcIpKey(int number);

}  // namespace vornix
