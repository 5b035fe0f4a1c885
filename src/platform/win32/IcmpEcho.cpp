#include "platform/win32/IcmpEcho.h"

#include <winsock2.h>
#include <windows.h>
#include <ipexport.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <vector>

#include "link/Net.h"
#include "platform/win32/NetAdapters.h"

namespace vornix::platform {

namespace {

using CreateFileFn = HANDLE(WINAPI*)();
using SendEchoFn = DWORD(WINAPI*)(HANDLE, IPAddr, LPVOID, WORD, PIP_OPTION_INFORMATION, LPVOID, DWORD, DWORD);
using CloseHandleFn = BOOL(WINAPI*)(HANDLE);
// IcmpSendEcho2Ex: the same request from a source address; no event and no
// APC routine make it synchronous.
using SendEchoFromFn = DWORD(WINAPI*)(HANDLE, HANDLE, PVOID, PVOID, IPAddr, IPAddr, LPVOID, WORD,
                                      PIP_OPTION_INFORMATION, LPVOID, DWORD, DWORD);
using FlushNeighboursFn = DWORD(WINAPI*)(ADDRESS_FAMILY, ULONG);

// The process-wide holder of ICMP.DLL: loaded on the first echo, exactly
// once even when several threads ask at the same moment; released at exit.
struct IcmpLibrary {
    std::once_flag once, helperOnce;
    bool socketsStarted = false;
    HMODULE module = nullptr;
    CreateFileFn create = nullptr;
    SendEchoFn send = nullptr;
    CloseHandleFn close = nullptr;
    // A gang port's calls, looked up rather than imported: Wine 8 has no
    // FlushIpNetTable2, and a program importing it would not start there.
    HMODULE helper = nullptr;
    SendEchoFromFn sendFrom = nullptr;
    FlushNeighboursFn flushNeighbours = nullptr;

    ~IcmpLibrary() {
        if (helper) FreeLibrary(helper);
        helper = nullptr;
        if (module) FreeLibrary(module);
        module = nullptr;
        if (socketsStarted) WSACleanup();
    }

    bool load() {
        std::call_once(once, [this] {
            WSADATA data;
            if (WSAStartup(MAKEWORD(1, 1), &data) != 0) return;
            socketsStarted = true;
            module = LoadLibraryA("ICMP.DLL");
            if (!module) return;
            create = reinterpret_cast<CreateFileFn>(reinterpret_cast<void*>(GetProcAddress(module, "IcmpCreateFile")));
            send = reinterpret_cast<SendEchoFn>(reinterpret_cast<void*>(GetProcAddress(module, "IcmpSendEcho")));
            close = reinterpret_cast<CloseHandleFn>(reinterpret_cast<void*>(GetProcAddress(module, "IcmpCloseHandle")));
        });
        return create && send && close;
    }

    // The gang port's calls, on top of load(); a one-port station never asks.
    bool loadHelper() {
        if (!load()) return false;
        std::call_once(helperOnce, [this] {
            // ICMP.DLL forwards to the IP helper, which alone has the Ex call (Wine's, too).
            sendFrom = reinterpret_cast<SendEchoFromFn>(reinterpret_cast<void*>(GetProcAddress(module, "IcmpSendEcho2Ex")));
            helper = LoadLibraryA("IPHLPAPI.DLL");
            if (!helper) return;
            if (!sendFrom)
                sendFrom = reinterpret_cast<SendEchoFromFn>(reinterpret_cast<void*>(GetProcAddress(helper, "IcmpSendEcho2Ex")));
            flushNeighbours = reinterpret_cast<FlushNeighboursFn>(
                reinterpret_cast<void*>(GetProcAddress(helper, "FlushIpNetTable2")));
        });
        return sendFrom != nullptr;
    }
};

IcmpLibrary& library() {
    static IcmpLibrary holder;
    return holder;
}

// The reply in buffer, checked: only data that lies inside it is read.
void readReply(DWORD count, const std::vector<unsigned char>& buffer, EchoReply& reply) {
    reply.replies = static_cast<int>(count);
    if (count < 1) return;
    const auto* echoReply = reinterpret_cast<const ICMP_ECHO_REPLY*>(buffer.data());
    reply.status = static_cast<int>(echoReply->Status);
    const auto* data = static_cast<const unsigned char*>(echoReply->Data);
    const unsigned char* end = buffer.data() + buffer.size();
    if (data && data >= buffer.data() && data <= end && echoReply->DataSize <= static_cast<std::size_t>(end - data))
        reply.data.assign(reinterpret_cast<const char*>(data), echoReply->DataSize);
    else
        reply.status = -1;
}

}  // namespace

bool IcmpEcho::load() {
    IcmpLibrary& icmp = library();
    if (!port_.bound()) return icmp.load();
    if (!icmp.load()) return false;
    if (!icmp.loadHelper()) {
        std::fprintf(stderr, "vornix: this system has no IcmpSendEcho2Ex: port %d cannot send its echo from %s\n",
                     port_.number, port_.localAddress.c_str());
        return false;
    }
    return true;
}

EchoReply IcmpEcho::echo(const std::string& host, int timeToLive, int timeoutMs, const std::string& payload) {
    EchoReply reply;
    IcmpLibrary& icmp = library();
    std::uint32_t address = 0;
    if (!net::resolveIPv4(host, address)) {
        reply.resolved = false;
        return reply;
    }
    std::uint32_t source = 0;
    // An address the port's own check has already vetted; a bad one sends nothing.
    if (port_.bound() && (!icmp.sendFrom || !net::resolveIPv4(port_.localAddress, source))) return reply;
    HANDLE handle = icmp.create();
    if (handle == INVALID_HANDLE_VALUE) return reply;

    IP_OPTION_INFORMATION options{};
    options.Ttl = static_cast<UCHAR>(timeToLive);
    std::vector<char> request(payload.begin(), payload.end());
    // The reply, its data (at least 8 bytes: an error carries the request's
    // header) and the 8 bytes more for an ICMP error that the system asks for;
    // IcmpSendEcho2Ex wants room for an IO_STATUS_BLOCK (two pointers) too.
    const std::size_t room = sizeof(ICMP_ECHO_REPLY) + std::max<std::size_t>(payload.size(), 8) + 8 +
                             (port_.bound() ? 2 * sizeof(void*) : 0);
    std::vector<unsigned char> buffer(room, 0);
    DWORD count = 0;
    if (!port_.bound())
        count = icmp.send(handle, address, request.empty() ? nullptr : request.data(),
                          static_cast<WORD>(request.size()), &options, buffer.data(),
                          static_cast<DWORD>(buffer.size()), static_cast<DWORD>(timeoutMs));
    else
        count = icmp.sendFrom(handle, nullptr, nullptr, nullptr, source, address,
                              request.empty() ? nullptr : request.data(), static_cast<WORD>(request.size()), &options,
                              buffer.data(), static_cast<DWORD>(buffer.size()), static_cast<DWORD>(timeoutMs));
    readReply(count, buffer, reply);
    icmp.close(handle);
    return reply;
}

void IcmpEcho::flushArp() {
    if (!port_.bound()) {
        WinExec("arp -d", SW_HIDE);
        return;
    }
    // Only this port's adapter: the other ports' runs may be looking their
    // routers up at this moment. Where the call is missing (Wine) nothing is
    // flushed, as when "arp -d" fails.
    IcmpLibrary& icmp = library();
    icmp.loadHelper();
    NetAdapter adapter;
    if (icmp.flushNeighbours && findAdapter(port_.interfaceName, adapter) == AdapterLookup::found &&
        adapter.index != 0)
        icmp.flushNeighbours(AF_INET, adapter.index);
}

}  // namespace vornix::platform
