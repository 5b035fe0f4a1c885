#pragma once

// The socket calls the tests' own servers make, the same on Winsock and BSD sockets.
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

#include <cstdint>

namespace vornix::testnet {

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

}  // namespace vornix::testnet
