#include "config/GangConfig.h"

#include "config/StationConfig.h"
#include "config/RouterPort.h"

namespace vornix {

namespace {

// An adapter's alias on Windows is at most 256 characters; an address fits in PC_IP's buffer.
constexpr std::size_t interfaceBuffer = 257;
constexpr std::size_t addressBuffer = 18;

std::string readText(Profile& profile, const std::string& key, std::size_t size) {
    return profile.read(GangConfig::section, key.c_str(), "", size);
}

}  // namespace

std::string gangPcIpKey(int number) { return "Port" + std::to_string(number) + "_PC_IP"; }

GangPortConfig readGangPort(Profile& profile, int number) {
    GangPortConfig port;
    port.number = number;
    const std::string key = "Port" + std::to_string(number);
    port.interfaceName = readText(profile, key, interfaceBuffer);
    port.pcIp = readText(profile, gangPcIpKey(number), addressBuffer);
    if (port.interfaceName.empty() || isMissing(port.interfaceName))
        port.problem = "setup.ini's [GANG] section names no interface for it (" + key + "=)";
    else if (port.pcIp.empty() || isMissing(port.pcIp))
        port.problem = "setup.ini's [GANG] section gives it no PC address (" + gangPcIpKey(number) + "=)";
    return port;
}

GangConfig readGangConfig(Profile& profile) {
    GangConfig gang;
    const std::string ports = profile.read(GangConfig::section, "Ports", "", 32);
    gang.present = !ports.empty();
    if (!gang.present) return gang;
    const int count = parseDecimal(ports);
    if (count < 1 || count > maxPorts || std::to_string(count) != ports) {
        gang.problem = "setup.ini's [GANG] Ports=" + ports + " is not a number of ports from 1 to " + std::to_string(maxPorts);
        return gang;
    }
    for (int number = 1; number <= count; ++number) gang.ports.push_back(readGangPort(profile, number));
    return gang;
}

}  // namespace vornix
