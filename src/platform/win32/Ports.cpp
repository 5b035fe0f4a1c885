#include "platform/Ports.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>
#include <netioapi.h>

#include <algorithm>
#include <cstdio>

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

unsigned long portInterfaceIndex(const RouterPort& port) {
    NetAdapter adapter;
    return findAdapter(port.interfaceName, adapter) == AdapterLookup::found ? adapter.index : 0;
}

namespace {

// Looked up when first needed, never imported, as the adapters' list is.
using GetTableFn = DWORD(WINAPI*)(ADDRESS_FAMILY, PMIB_IPNET_TABLE2*);
using FreeTableFn = VOID(WINAPI*)(PVOID);

}  // namespace

std::string neighbourAddress(const RouterPort& port, const std::string& address) {
    static const HMODULE helper = LoadLibraryA("IPHLPAPI.DLL");
    const auto getTable =
        helper ? reinterpret_cast<GetTableFn>(reinterpret_cast<void*>(GetProcAddress(helper, "GetIpNetTable2"))) : nullptr;
    const auto freeTable =
        helper ? reinterpret_cast<FreeTableFn>(reinterpret_cast<void*>(GetProcAddress(helper, "FreeMibTable"))) : nullptr;
    in_addr wanted{};
    if (!getTable || !freeTable || InetPtonA(AF_INET, address.c_str(), &wanted) != 1) return std::string();
    const unsigned long index = port.bound() ? portInterfaceIndex(port) : 0;
    if (port.bound() && index == 0) return std::string();
    MIB_IPNET_TABLE2* table = nullptr;
    if (getTable(AF_INET, &table) != NO_ERROR || !table) return std::string();
    std::string found;
    for (ULONG i = 0; i < table->NumEntries && found.empty(); ++i) {
        const MIB_IPNET_ROW2& row = table->Table[i];
        if (row.Address.si_family != AF_INET || row.Address.Ipv4.sin_addr.s_addr != wanted.s_addr) continue;
        if (port.bound() && row.InterfaceIndex != index) continue;
        if (row.State == NlnsUnreachable || row.State == NlnsIncomplete || row.PhysicalAddressLength != 6) continue;
        char text[18];
        const UCHAR* a = row.PhysicalAddress;
        std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", a[0], a[1], a[2], a[3], a[4], a[5]);
        found = text;
    }
    freeTable(table);
    return found;
}

}  // namespace vornix::platform
