#include "platform/Ports.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

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

}  // namespace vornix::platform
