#pragma once

#include <cstdint>
#include <string>

// The few socket calls the link makes. Declared here, implemented for each
// system in src/platform (Winsock, BSD sockets), like the ports.
namespace vornix::net {

// A socket; noSocket is none (INVALID_SOCKET, or -1).
using SocketHandle = std::intptr_t;
constexpr SocketHandle noSocket = -1;

// Takes and releases a reference on the socket library (WSAStartup and
// WSACleanup; nothing to do elsewhere).
bool startSockets(int major, int minor);
void stopSockets();

// A TCP socket, never descriptor 0 (0 means "none" in a channel); noSocket
// when none can be made.
SocketHandle openTcp();
// The router's IPv4 address in network byte order: a dotted address taken as
// it is, anything else looked up and its first address used. False when
// neither works.
bool resolveIPv4(const std::string& host, std::uint32_t& address);
// Ties the socket to one network port before it connects: its packets
// leave by the interface named (Linux: its name; Windows: an adapter's alias
// or index) from localAddress (network byte order), whatever the routing
// table says. False and why when the system refuses.
bool bindToPort(SocketHandle socket, const std::string& interfaceName, std::uint32_t localAddress, std::string& why);
// Blocking, with the system's own time-out.
bool connectTo(SocketHandle socket, std::uint32_t address, int port);
// The same, given up after timeoutMs; the socket stays blocking.
bool connectWithin(SocketHandle socket, std::uint32_t address, int port, int timeoutMs);
// Waits at most timeoutMs for something to receive (or the peer's close):
// 1 when there is, 0 on the time-out, -1 on an error.
int waitReadable(SocketHandle socket, int timeoutMs);
// One send, no signal on a closed peer; the count sent or -1.
int sendBytes(SocketHandle socket, const char* data, int size);
// One receive; 0 when the peer closed, -1 on an error.
int receive(SocketHandle socket, char* buffer, int size);
// Shuts both directions: a receive blocked on the socket returns.
void shutdownBoth(SocketHandle socket);
void closeSocket(SocketHandle socket);

}  // namespace vornix::net
