#include "link/Net.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vornix::net {

bool startSockets(int, int) { return true; }
void stopSockets() {}

SocketHandle openTcp() {
    int handle = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (handle == 0) {
        // Standard input was closed: never hold descriptor 0.
        const int moved = ::fcntl(handle, F_DUPFD_CLOEXEC, 3);
        ::close(handle);
        handle = moved;
    }
    return handle < 0 ? noSocket : handle;
}

bool resolveIPv4(const std::string& host, std::uint32_t& address) {
    const in_addr_t dotted = inet_addr(host.c_str());
    if (dotted != INADDR_NONE) {
        address = dotted;
        return true;
    }
    // getaddrinfo rather than gethostbyname: several threads may look up at once.
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) return false;
    address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
    freeaddrinfo(found);
    return true;
}

bool bindToPort(SocketHandle socket, const std::string& interfaceName, std::uint32_t localAddress, std::string& why) {
    // The device, not only the source address: with every port on one
    // subnet the routing table would send to the first port's router.
    if (interfaceName.empty() || interfaceName.size() >= IFNAMSIZ) {
        why = "\"" + interfaceName + "\" is not an interface name";
        return false;
    }
    if (::setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_BINDTODEVICE, interfaceName.c_str(),
                     static_cast<socklen_t>(interfaceName.size() + 1)) != 0) {
        why = "cannot bind to the interface " + interfaceName + ": " + std::strerror(errno);
        return false;
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = localAddress;
    if (::bind(static_cast<int>(socket), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        const int error = errno;
        char text[INET_ADDRSTRLEN] = "?";
        ::inet_ntop(AF_INET, &local.sin_addr, text, sizeof text);
        why = "cannot bind to the address " + std::string(text) + ": " + std::strerror(error);
        return false;
    }
    return true;
}

bool connectTo(SocketHandle socket, std::uint32_t address, int port) {
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<unsigned short>(port));
    peer.sin_addr.s_addr = address;
    return ::connect(static_cast<int>(socket), reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0;
}

bool connectWithin(SocketHandle socket, std::uint32_t address, int port, int timeoutMs) {
    const int fd = static_cast<int>(socket);
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return false;
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<unsigned short>(port));
    peer.sin_addr.s_addr = address;
    bool connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0;
    if (!connected && errno == EINPROGRESS) {
        pollfd wanted{fd, POLLOUT, 0};
        int error = ETIMEDOUT;
        socklen_t size = sizeof error;
        if (::poll(&wanted, 1, timeoutMs < 0 ? 0 : timeoutMs) == 1)
            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
        connected = error == 0;
    }
    return ::fcntl(fd, F_SETFL, flags) == 0 && connected;
}

int waitReadable(SocketHandle socket, int timeoutMs) {
    pollfd wanted{static_cast<int>(socket), POLLIN, 0};
    const int ready = ::poll(&wanted, 1, timeoutMs < 0 ? 0 : timeoutMs);
    return ready < 0 ? -1 : ready == 0 ? 0 : 1;
}

int sendBytes(SocketHandle socket, const char* data, int size) {
    return static_cast<int>(::send(static_cast<int>(socket), data, static_cast<std::size_t>(size), MSG_NOSIGNAL));
}

int receive(SocketHandle socket, char* buffer, int size) {
    const int received = static_cast<int>(::recv(static_cast<int>(socket), buffer, static_cast<std::size_t>(size), 0));
    // Acknowledge at once: a router that holds its next small write until
    // our acknowledgement (Nagle) would otherwise wait for our delayed one,
    // tens of milliseconds on every answer. The system turns it off again,
    // so it is set after every receive.
    if (received > 0) {
        const int on = 1;
        ::setsockopt(static_cast<int>(socket), IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
    }
    return received;
}

void shutdownBoth(SocketHandle socket) { ::shutdown(static_cast<int>(socket), SHUT_RDWR); }
void closeSocket(SocketHandle socket) { ::close(static_cast<int>(socket)); }

}  // namespace vornix::net
