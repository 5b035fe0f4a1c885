#include "platform/posix/SocketEcho.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "link/Net.h"

extern char** environ;

namespace vornix::platform {

namespace {

enum class Kind { None, Raw, Ping };

Kind echoKind() {
    static std::once_flag once;
    static Kind kind = Kind::None;
    std::call_once(once, [] {
        for (const auto& [type, k] : {std::pair{SOCK_RAW, Kind::Raw}, std::pair{SOCK_DGRAM, Kind::Ping}}) {
            const int s = ::socket(AF_INET, type | SOCK_CLOEXEC, IPPROTO_ICMP);
            if (s >= 0) {
                ::close(s);
                kind = k;
                return;
            }
        }
        std::fputs("vornix: cannot send ICMP echo: a raw ICMP socket needs root (or CAP_NET_RAW) and no ping "
                   "socket is allowed (net.ipv4.ping_group_range); every reachability check fails\n",
                   stderr);
    });
    return kind;
}

std::uint16_t checksum(const unsigned char* data, std::size_t size) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < size; i += 2) sum += static_cast<std::uint32_t>(data[i] << 8 | data[i + 1]);
    if (size % 2) sum += static_cast<std::uint32_t>(data[size - 1] << 8);
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

std::atomic<unsigned> sequence{0};

}  // namespace

bool SocketEcho::load() { return echoKind() != Kind::None; }

EchoReply SocketEcho::echo(const std::string& host, int timeToLive, int timeoutMs, const std::string& payload) {
    EchoReply reply;
    in_addr address{};
    if (!net::resolveIPv4(host, address.s_addr)) {
        reply.resolved = false;
        return reply;
    }
    const Kind kind = echoKind();
    const int s = ::socket(AF_INET, (kind == Kind::Raw ? SOCK_RAW : SOCK_DGRAM) | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (s < 0) return reply;
    const int ttl = timeToLive;
    ::setsockopt(s, IPPROTO_IP, IP_TTL, &ttl, sizeof ttl);
    if (port_.bound()) {
        // Bound to the device, the socket also hears only that port's
        // replies: every port's router answers from the same address.
        std::uint32_t local = 0;
        std::string why;
        if (!net::resolveIPv4(port_.localAddress, local) || !net::bindToPort(s, port_.interfaceName, local, why)) {
            ::close(s);
            return reply;
        }
    }

    const unsigned number = ++sequence;
    const std::uint16_t id = static_cast<std::uint16_t>((::getpid() * 31u + number / 65536u) & 0xFFFF);
    const std::uint16_t seq = static_cast<std::uint16_t>(number & 0xFFFF);
    std::vector<unsigned char> packet(8 + payload.size(), 0);
    packet[0] = ICMP_ECHO;
    packet[4] = static_cast<unsigned char>(id >> 8);
    packet[5] = static_cast<unsigned char>(id & 0xFF);
    packet[6] = static_cast<unsigned char>(seq >> 8);
    packet[7] = static_cast<unsigned char>(seq & 0xFF);
    std::memcpy(packet.data() + 8, payload.data(), payload.size());
    const std::uint16_t sum = checksum(packet.data(), packet.size());
    packet[2] = static_cast<unsigned char>(sum >> 8);
    packet[3] = static_cast<unsigned char>(sum & 0xFF);

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr = address;
    if (::sendto(s, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) < 0) {
        ::close(s);
        return reply;
    }

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::vector<unsigned char> buffer(65536);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd wait{s, POLLIN, 0};
        if (::poll(&wait, 1, static_cast<int>(left.count())) <= 0) break;
        sockaddr_in from{};
        socklen_t fromSize = sizeof from;
        const ssize_t got = ::recvfrom(s, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from), &fromSize);
        if (got <= 0) break;
        std::size_t offset = 0;
        if (kind == Kind::Raw) {  // a raw socket hands over the IP header too
            offset = static_cast<std::size_t>(buffer[0] & 0x0F) * 4;
            if (offset < 20 || offset + 8 > static_cast<std::size_t>(got)) continue;
        } else if (got < 8) {
            continue;
        }
        const unsigned char* icmp = buffer.data() + offset;
        if (icmp[0] != ICMP_ECHOREPLY || from.sin_addr.s_addr != address.s_addr) continue;
        if ((icmp[6] << 8 | icmp[7]) != seq) continue;
        if (kind == Kind::Raw && (icmp[4] << 8 | icmp[5]) != id) continue;  // ping sockets set the id themselves
        reply.replies = 1;
        reply.status = 0;
        reply.data.assign(reinterpret_cast<const char*>(icmp + 8), static_cast<std::size_t>(got) - offset - 8);
        break;
    }
    ::close(s);
    return reply;
}

void SocketEcho::flushArp() {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    char ip[] = "ip", neigh[] = "neigh", flush[] = "flush", all[] = "all", dev[] = "dev";
    // A gang port flushes its own interface's neighbours only: another
    // port's run may be looking its router up at this moment.
    std::string device = port_.interfaceName;
    char* argv[] = {ip, neigh, flush, all, nullptr, nullptr};
    if (port_.bound()) {
        argv[3] = dev;
        argv[4] = &device[0];
    }
    // Where iproute2 puts it, looked up once: a PATH without the sbin
    // directories (a user's) would otherwise lose the flush.
    static const std::string program = [] {
        for (const char* path : {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"})
            if (::access(path, X_OK) == 0) return std::string(path);
        return std::string();
    }();
    pid_t pid = 0;
    // It takes milliseconds; waiting for it keeps no child behind.
    const int spawned = program.empty() ? posix_spawnp(&pid, "ip", &actions, nullptr, argv, environ)
                                        : posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ);
    if (spawned == 0) ::waitpid(pid, nullptr, 0);
    posix_spawn_file_actions_destroy(&actions);
}

}  // namespace vornix::platform
