#include "platform/win32/NetAdapters.h"

// winsock2 before windows.h, iphlpapi after both.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>

#include <cwchar>

#include "platform/win32/AnsiText.h"

namespace vornix::platform {

namespace {

// A decimal index, 1 to 2^32-1, digits only.
bool decimalIndex(const std::string& text, unsigned long& index) {
    if (text.empty() || text.size() > 10) return false;
    unsigned long long value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value == 0 || value > 0xFFFFFFFFull) return false;
    index = static_cast<unsigned long>(value);
    return true;
}

NetAdapter describe(const IP_ADAPTER_ADDRESSES& entry) {
    NetAdapter adapter;
    adapter.index = entry.IfIndex;
    adapter.up = entry.OperStatus == IfOperStatusUp;
    for (const IP_ADAPTER_UNICAST_ADDRESS* at = entry.FirstUnicastAddress; at; at = at->Next) {
        const sockaddr* address = at->Address.lpSockaddr;
        if (address && address->sa_family == AF_INET && at->Address.iSockaddrLength >= static_cast<INT>(sizeof(sockaddr_in)))
            adapter.ipv4.push_back(reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr);
    }
    return adapter;
}

// Looked up when a gang port is first named, never imported: a one-port
// station's programs load no IP helper at start (Wine's starts its network
// service with it).
using GetAdaptersFn = ULONG(WINAPI*)(ULONG, ULONG, PVOID, PIP_ADAPTER_ADDRESSES, PULONG);

GetAdaptersFn adaptersFunction() {
    static const GetAdaptersFn function = [] {
        const HMODULE helper = LoadLibraryA("IPHLPAPI.DLL");
        return helper ? reinterpret_cast<GetAdaptersFn>(
                            reinterpret_cast<void*>(GetProcAddress(helper, "GetAdaptersAddresses")))
                      : nullptr;
    }();
    return function;
}

}  // namespace

AdapterLookup findAdapter(const std::string& name, NetAdapter& adapter) {
    const GetAdaptersFn getAdaptersAddresses = adaptersFunction();
    if (!getAdaptersAddresses) return AdapterLookup::unlisted;
    const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    std::vector<unsigned char> buffer(16 * 1024);
    ULONG result = ERROR_BUFFER_OVERFLOW;
    // Under Wine the list comes from a driver its services load as the
    // first program of a new server starts: a gang started then asks before
    // it is there. Asked again for a while before the list counts as none.
    for (int wait = 0; wait < 100; ++wait) {
        // The list can grow between the size query and the call: a few tries.
        result = ERROR_BUFFER_OVERFLOW;
        for (int attempt = 0; attempt < 4 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
            ULONG size = static_cast<ULONG>(buffer.size());
            result = getAdaptersAddresses(AF_UNSPEC, flags, nullptr,
                                          reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
            if (result == ERROR_BUFFER_OVERFLOW) buffer.resize(size + 4096);
        }
        if (result == ERROR_SUCCESS || result == ERROR_NO_DATA || result == ERROR_BUFFER_OVERFLOW) break;
        Sleep(100);
    }
    if (result == ERROR_NO_DATA) return AdapterLookup::missing;
    if (result != ERROR_SUCCESS) return AdapterLookup::unlisted;

    const auto* first = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data());
    const std::wstring alias = wideFromAnsi(name);
    if (!alias.empty()) {
        for (const IP_ADAPTER_ADDRESSES* at = first; at; at = at->Next) {
            if (at->FriendlyName && alias == at->FriendlyName) {
                adapter = describe(*at);
                return AdapterLookup::found;
            }
        }
    }
    unsigned long index = 0;
    if (decimalIndex(name, index)) {
        for (const IP_ADAPTER_ADDRESSES* at = first; at; at = at->Next) {
            if (at->IfIndex == index) {
                adapter = describe(*at);
                return AdapterLookup::found;
            }
        }
    }
    return AdapterLookup::missing;
}

}  // namespace vornix::platform
