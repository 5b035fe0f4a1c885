#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vornix::platform {

// One network adapter as GetAdaptersAddresses lists it.
struct NetAdapter {
    unsigned long index = 0;           // its IPv4 interface index; 0 when IPv4 is not enabled on it
    bool up = false;                   // OperStatus is IfOperStatusUp
    std::vector<std::uint32_t> ipv4;   // its unicast IPv4 addresses, network byte order
};

enum class AdapterLookup { found, missing, unlisted };

// The adapter a gang port names: its alias (FriendlyName, compared exactly)
// or, when no alias is that, its interface index in decimal. unlisted when
// the system does not list its adapters.
AdapterLookup findAdapter(const std::string& name, NetAdapter& adapter);

}  // namespace vornix::platform
