#include "platform/Ports.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace vornix::platform {

std::string portProblem(const RouterPort& port) {
    const std::string& name = port.interfaceName;
    in_addr wanted{};
    if (::inet_pton(AF_INET, port.localAddress.c_str(), &wanted) != 1)
        return "its PC address \"" + port.localAddress + "\" is not a dotted IPv4 address";
    if (name.empty()) return "no interface is named for it";
    ifaddrs* all = nullptr;
    if (::getifaddrs(&all) != 0) return "the system does not list its interfaces";
    bool found = false, up = false, holds = false;
    for (const ifaddrs* at = all; at; at = at->ifa_next) {
        if (!at->ifa_name || name != at->ifa_name) continue;
        found = true;
        if ((at->ifa_flags & IFF_UP) && (at->ifa_flags & IFF_RUNNING)) up = true;
        if (at->ifa_addr && at->ifa_addr->sa_family == AF_INET &&
            reinterpret_cast<const sockaddr_in*>(at->ifa_addr)->sin_addr.s_addr == wanted.s_addr)
            holds = true;
    }
    ::freeifaddrs(all);
    if (!found) return "there is no interface " + name;
    if (!up) return "the interface " + name + " is down (no link)";
    if (!holds) return "the interface " + name + " does not hold its PC address " + port.localAddress;
    return std::string();
}

unsigned long portInterfaceIndex(const RouterPort& port) {
    return port.interfaceName.empty() ? 0 : ::if_nametoindex(port.interfaceName.c_str());
}

std::string neighbourAddress(const RouterPort& port, const std::string& address) {
    // IP address, HW type, Flags, HW address, Mask, Device: one entry a line.
    std::ifstream table("/proc/net/arp");
    std::string line;
    std::getline(table, line);  // the heading
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string ip, type, flags, hardware, mask, device;
        if (!(fields >> ip >> type >> flags >> hardware >> mask >> device)) continue;
        // ATF_COM: resolved; an entry still being looked up holds zeros.
        if (ip != address || !(std::strtoul(flags.c_str(), nullptr, 16) & 0x2) || hardware.size() != 17) continue;
        if (port.bound() && device != port.interfaceName) continue;
        for (char& c : hardware) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return hardware;
    }
    return std::string();
}

}  // namespace vornix::platform
