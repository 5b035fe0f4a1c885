#include "link/Net.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>

#include <algorithm>
#include <atomic>

#include "platform/win32/ErrorClause.h"
#include "platform/win32/NetAdapters.h"

namespace vornix::net {

namespace {

SOCKET raw(SocketHandle socket) { return static_cast<SOCKET>(socket); }

std::atomic<bool> ackFrequencyUnknown{false};

// Acknowledge every segment at once: a router that holds its next small
// write until our acknowledgement (Nagle) would otherwise wait for the
// delayed one, up to the system's delay (200 ms at most) on every answer.
// Windows has no TCP_QUICKACK; this is its per-socket setting. A system
// that does not know it (Wine answers WSAEOPNOTSUPP) keeps its delayed
// acknowledgement, and is not asked again.
void ackEverySegment(SOCKET socket) {
    if (ackFrequencyUnknown) return;
    TCP_ACK_FREQUENCY_PARAMETERS every{};
    every.TcpDelayedAckFrequency = 1;
    DWORD returned = 0;
    if (WSAIoctl(socket, SIO_TCP_SET_ACK_FREQUENCY, &every, sizeof every, nullptr, 0, &returned, nullptr, nullptr) ==
            SOCKET_ERROR &&
        WSAGetLastError() == WSAEOPNOTSUPP)
        ackFrequencyUnknown = true;
}

}  // namespace

bool startSockets(int major, int minor) {
    WSADATA data;
    return WSAStartup(MAKEWORD(major, minor), &data) == 0;
}

void stopSockets() { WSACleanup(); }

SocketHandle openTcp() {
    const SOCKET handle = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    return handle == INVALID_SOCKET ? noSocket : static_cast<SocketHandle>(handle);
}

bool resolveIPv4(const std::string& host, std::uint32_t& address) {
    const unsigned long dotted = inet_addr(host.c_str());
    if (dotted != INADDR_NONE) {
        address = static_cast<std::uint32_t>(dotted);
        return true;
    }
    // Winsock keeps gethostbyname's answer per thread.
    const hostent* entry = gethostbyname(host.c_str());
    if (!entry || entry->h_addrtype != AF_INET || !entry->h_addr_list || !entry->h_addr_list[0]) return false;
    std::copy(entry->h_addr_list[0], entry->h_addr_list[0] + sizeof address, reinterpret_cast<char*>(&address));
    return true;
}

bool bindToPort(SocketHandle socket, const std::string& interfaceName, std::uint32_t localAddress, std::string& why) {
    // The adapter, not only the source address: with every port on one
    // subnet the routing table would send to the first port's router.
    platform::NetAdapter adapter;
    switch (platform::findAdapter(interfaceName, adapter)) {
    case platform::AdapterLookup::unlisted:
        why = "the system does not list its network adapters";
        return false;
    case platform::AdapterLookup::missing:
        why = "there is no network adapter " + interfaceName;
        return false;
    case platform::AdapterLookup::found:
        break;
    }
    if (adapter.index == 0) {
        why = "the adapter " + interfaceName + " has no IPv4";
        return false;
    }
    // IP_UNICAST_IF takes an IPv4 interface index in network byte order.
    const DWORD index = htonl(static_cast<u_long>(adapter.index));
    if (::setsockopt(raw(socket), IPPROTO_IP, IP_UNICAST_IF, reinterpret_cast<const char*>(&index), sizeof index) != 0) {
        why = "cannot tie the socket to the adapter " + interfaceName + " (index " + std::to_string(adapter.index) +
              ")" + platform::errorClause(static_cast<unsigned long>(WSAGetLastError()));
        return false;
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = localAddress;
    if (::bind(raw(socket), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        const int error = WSAGetLastError();
        char text[INET_ADDRSTRLEN] = "?";
        InetNtopA(AF_INET, &local.sin_addr, text, sizeof text);
        why = "cannot bind to the address " + std::string(text) + platform::errorClause(static_cast<unsigned long>(error));
        return false;
    }
    return true;
}

bool connectTo(SocketHandle socket, std::uint32_t address, int port) {
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<unsigned short>(port));
    peer.sin_addr.s_addr = address;
    if (::connect(raw(socket), reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) return false;
    ackEverySegment(raw(socket));
    return true;
}

bool connectWithin(SocketHandle socket, std::uint32_t address, int port, int timeoutMs) {
    u_long nonBlocking = 1;
    if (::ioctlsocket(raw(socket), FIONBIO, &nonBlocking) != 0) return false;
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<unsigned short>(port));
    peer.sin_addr.s_addr = address;
    bool connected = ::connect(raw(socket), reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0;
    if (!connected && WSAGetLastError() == WSAEWOULDBLOCK) {
        // A refused connect shows in the exception set, not the write set.
        fd_set writable, failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(raw(socket), &writable);
        FD_SET(raw(socket), &failed);
        timeval wait{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
        if (timeoutMs < 0) wait = timeval{0, 0};
        int error = WSAETIMEDOUT;
        int size = sizeof error;
        if (::select(0, nullptr, &writable, &failed, &wait) > 0)
            ::getsockopt(raw(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size);
        connected = error == 0;
    }
    u_long blocking = 0;
    return ::ioctlsocket(raw(socket), FIONBIO, &blocking) == 0 && connected;
}

int waitReadable(SocketHandle socket, int timeoutMs) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(raw(socket), &readable);
    timeval wait{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    if (timeoutMs < 0) wait = timeval{0, 0};
    const int ready = ::select(0, &readable, nullptr, nullptr, &wait);
    return ready == SOCKET_ERROR ? -1 : ready == 0 ? 0 : 1;
}

int sendBytes(SocketHandle socket, const char* data, int size) { return ::send(raw(socket), data, size, 0); }
int receive(SocketHandle socket, char* buffer, int size) { return ::recv(raw(socket), buffer, size, 0); }
void shutdownBoth(SocketHandle socket) { ::shutdown(raw(socket), SD_BOTH); }
void closeSocket(SocketHandle socket) { ::closesocket(raw(socket)); }

}  // namespace vornix::net
