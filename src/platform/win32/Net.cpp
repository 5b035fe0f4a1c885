#include "link/Net.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>

namespace vornix::net {

namespace {
SOCKET raw(SocketHandle socket) { return static_cast<SOCKET>(socket); }
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

bool connectTo(SocketHandle socket, std::uint32_t address, int port) {
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<unsigned short>(port));
    peer.sin_addr.s_addr = address;
    return ::connect(raw(socket), reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0;
}

int sendBytes(SocketHandle socket, const char* data, int size) { return ::send(raw(socket), data, size, 0); }
int receive(SocketHandle socket, char* buffer, int size) { return ::recv(raw(socket), buffer, size, 0); }
void shutdownBoth(SocketHandle socket) { ::shutdown(raw(socket), SD_BOTH); }
void closeSocket(SocketHandle socket) { ::closesocket(raw(socket)); }

}  // namespace vornix::net
