#include "platform/Ports.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>

#include "platform/win32/NetAdapters.h"

namespace vornix::platform {

std::string portProblem(const RouterPort& port) {
    const std::string& name = port.interfaceName;
    in_addr wanted{};
    if (InetPtonA(AF_INET, port.localAddress.c_str(), &wanted) != 1)
        return "its PC address \"" + port.localAddress + "\" is not a dotted IPv4 address";
    if (name.empty()) return "no network adapter is named for it";
    NetAdapter adapter;
    switch (findAdapter(name, adapter)) {
    case AdapterLookup::unlisted: return "the system does not list its network adapters";
    case AdapterLookup::missing: return "there is no network adapter " + name;
    case AdapterLookup::found: break;
    }
    if (!adapter.up) return "the adapter " + name + " is down (no link)";
    if (std::find(adapter.ipv4.begin(), adapter.ipv4.end(), wanted.s_addr) == adapter.ipv4.end())
        return "the adapter " + name + " does not hold its PC address " + port.localAddress;
    return std::string();
}

}  // namespace vornix::platform
