#pragma once

// The few socket calls the link makes, the same on Winsock and BSD sockets.
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdint>

namespace vornix::net {

#ifdef _WIN32
using SocketHandle = SOCKET;
constexpr SocketHandle noSocket = INVALID_SOCKET;
inline int closeSocket(SocketHandle s) { return closesocket(s); }
inline int shutdownBoth(SocketHandle s) { return shutdown(s, SD_BOTH); }
inline bool startSockets(int major, int minor) {
    WSADATA data;
    return WSAStartup(MAKEWORD(major, minor), &data) == 0;
}
inline void stopSockets() { WSACleanup(); }
inline int receive(SocketHandle s, char* buffer, int size) { return recv(s, buffer, size, 0); }
inline int sendBytes(SocketHandle s, const char* data, int size) { return send(s, data, size, 0); }
#else
using SocketHandle = int;
constexpr SocketHandle noSocket = -1;
inline int closeSocket(SocketHandle s) { return ::close(s); }
inline int shutdownBoth(SocketHandle s) { return ::shutdown(s, SHUT_RDWR); }
inline bool startSockets(int, int) { return true; }
inline void stopSockets() {}
inline int receive(SocketHandle s, char* buffer, int size) { return static_cast<int>(::recv(s, buffer, size, 0)); }
inline int sendBytes(SocketHandle s, const char* data, int size) {
    return static_cast<int>(::send(s, data, size, MSG_NOSIGNAL));
}
#endif

// The router's IPv4 address: a dotted address is taken as it is, anything
// else is looked up and its first address used. False when neither works.
inline bool resolveIPv4(const char* host, in_addr& address) {
    const unsigned long dotted = inet_addr(host);
    if (dotted != INADDR_NONE) {
        address.s_addr = static_cast<decltype(address.s_addr)>(dotted);
        return true;
    }
#ifdef _WIN32
    // Winsock keeps gethostbyname's answer per thread.
    const hostent* entry = gethostbyname(host);
    if (!entry || entry->h_addrtype != AF_INET || !entry->h_addr_list || !entry->h_addr_list[0]) return false;
    const char* bytes = entry->h_addr_list[0];
    std::copy(bytes, bytes + sizeof address.s_addr, reinterpret_cast<char*>(&address.s_addr));
    return true;
#else
    // getaddrinfo rather than gethostbyname: several threads may look up at once.
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &found) != 0 || !found) return false;
    address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
    return true;
#endif
}

}  // namespace vornix::net
