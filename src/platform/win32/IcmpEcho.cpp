#include "platform/win32/IcmpEcho.h"

#include <winsock2.h>
#include <windows.h>
#include <ipexport.h>

#include <algorithm>
#include <mutex>
#include <vector>

#include "link/Net.h"

namespace vornix::platform {

namespace {

using CreateFileFn = HANDLE(WINAPI*)();
using SendEchoFn = DWORD(WINAPI*)(HANDLE, IPAddr, LPVOID, WORD, PIP_OPTION_INFORMATION, LPVOID, DWORD, DWORD);
using CloseHandleFn = BOOL(WINAPI*)(HANDLE);

// The process-wide holder of ICMP.DLL: loaded on the first echo, exactly
// once even when several threads ask at the same moment; released at exit.
struct IcmpLibrary {
    std::once_flag once;
    bool socketsStarted = false;
    HMODULE module = nullptr;
    CreateFileFn create = nullptr;
    SendEchoFn send = nullptr;
    CloseHandleFn close = nullptr;

    ~IcmpLibrary() {
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
};

IcmpLibrary& library() {
    static IcmpLibrary holder;
    return holder;
}

}  // namespace

bool IcmpEcho::load() { return library().load(); }

EchoReply IcmpEcho::echo(const std::string& host, int timeToLive, int timeoutMs, const std::string& payload) {
    EchoReply reply;
    IcmpLibrary& icmp = library();
    std::uint32_t address = 0;
    if (!net::resolveIPv4(host, address)) {
        reply.resolved = false;
        return reply;
    }
    HANDLE handle = icmp.create();
    if (handle == INVALID_HANDLE_VALUE) return reply;

    IP_OPTION_INFORMATION options{};
    options.Ttl = static_cast<UCHAR>(timeToLive);
    std::vector<char> request(payload.begin(), payload.end());
    // The reply, its data (at least 8 bytes: an error carries the request's
    // header) and the 8 bytes more for an ICMP error that the system asks for.
    const std::size_t room = sizeof(ICMP_ECHO_REPLY) + std::max<std::size_t>(payload.size(), 8) + 8;
    std::vector<unsigned char> buffer(room, 0);
    const DWORD count = icmp.send(handle, address, request.empty() ? nullptr : request.data(),
                                  static_cast<WORD>(request.size()), &options, buffer.data(),
                                  static_cast<DWORD>(buffer.size()), static_cast<DWORD>(timeoutMs));
    reply.replies = static_cast<int>(count);
    if (count >= 1) {
        const auto* echoReply = reinterpret_cast<const ICMP_ECHO_REPLY*>(buffer.data());
        reply.status = static_cast<int>(echoReply->Status);
        // Only data that lies inside our buffer is read.
        const auto* data = static_cast<const unsigned char*>(echoReply->Data);
        const unsigned char* end = buffer.data() + buffer.size();
        if (data && data >= buffer.data() && data <= end &&
            echoReply->DataSize <= static_cast<std::size_t>(end - data))
            reply.data.assign(reinterpret_cast<const char*>(data), echoReply->DataSize);
        else
            reply.status = -1;
    }
    icmp.close(handle);
    return reply;
}

void IcmpEcho::flushArp() { WinExec("arp -d", SW_HIDE); }

}  // namespace vornix::platform
