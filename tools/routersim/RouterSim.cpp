#include "RouterSim.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "RouterState.h"
#include "Session.h"

namespace routersim {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t maxRecordedBytes = 16u << 20;
constexpr std::size_t maxRecords = 100000;
constexpr std::size_t maxConnections = 64;
constexpr std::size_t maxQueuedOutput = 8u << 20;
constexpr int flushGraceMs = 2000;
constexpr int relistenRetryMs = 100;

int msUntil(Clock::time_point when, Clock::time_point now) {
    if (when <= now) return 0;
    return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(when - now).count()) + 1;
}

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

}  // namespace

struct Connection {
    int fd = -1;  // closed by its own thread, under the router's lock
    int id = 0;
    std::size_t record = 0;
    std::thread thread;
    std::atomic<bool> finished{false};
};

struct RouterSim::Impl : SessionHost {
    explicit Impl(Options o)
        : options(std::move(o)),
          state(options.bootloaderName, options.bootloaderVersionText, options.bootloaderVersion) {
        for (const auto& [path, content] : options.files) state.write(RouterState::resolve("/", path), content, false);
    }

    // SessionHost
    void withState(const std::function<void(RouterState&)>& work) override {
        std::lock_guard<std::mutex> lock(mutex);
        work(state);
    }
    void reboot() override;
    void log(const std::string& line) override {
        if (options.log) options.log(line);
    }
    int abortFd() const override { return stopPipe[0]; }

    int bindSocket(std::string& error) const;
    void acceptLoop();
    void accepted(int fd, const sockaddr_in& peer);
    void serve(const std::shared_ptr<Connection>& connection);
    void kick() const {
        const char byte = 'k';
        [[maybe_unused]] const ssize_t n = ::write(kickPipe[1], &byte, 1);
    }

    const Options options;
    mutable std::mutex mutex;
    // Everything below is guarded by `mutex`, except what only the
    // controlling thread touches (acceptor, pipes, running) while no other
    // thread runs.
    RouterState state;
    std::vector<std::string> received;
    std::vector<std::shared_ptr<Connection>> connections;
    int listenFd = -1;
    bool listening = false;
    bool rebooting = false;
    Clock::time_point rebootEnd;
    int reboots = 0;
    int boundPort = 0;
    int nextId = 1;

    int stopPipe[2] = {-1, -1};
    int kickPipe[2] = {-1, -1};
    bool running = false;
    std::thread acceptor;
};

int RouterSim::Impl::bindSocket(std::string& error) const {
    sockaddr_in at{};
    at.sin_family = AF_INET;
    const int port = boundPort != 0 ? boundPort : options.port;
    at.sin_port = htons(static_cast<std::uint16_t>(port));
    if (port < 0 || port > 65535 || ::inet_pton(AF_INET, options.address.c_str(), &at.sin_addr) != 1) {
        error = "not an IPv4 address and port: " + options.address + ":" + std::to_string(port);
        return -1;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return -1;
    }
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) {
        error = "cannot bind " + options.address + ":" + std::to_string(port) + ": " + std::strerror(errno);
        ::close(fd);
        return -1;
    }
    return fd;
}

void RouterSim::Impl::reboot() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        ++reboots;
        rebooting = true;
        rebootEnd = Clock::now() + std::chrono::milliseconds(options.rebootMs);
        // Shutting a listening socket down ends its listening (it stays
        // bound): from here on connection attempts are refused. A router
        // back at once (0 ms) never refuses: a connection waits in the
        // queue, and the loop ends the reboot before it accepts one.
        if (options.rebootMs > 0) {
            if (listening) ::shutdown(listenFd, SHUT_RD);
            listening = false;
        }
        // Reading ends only: every connection wakes and drops, while the one
        // that asked can still send its last words.
        for (const auto& connection : connections)
            if (connection->fd >= 0) ::shutdown(connection->fd, SHUT_RD);
    }
    log("rebooting: telnet refused for " + std::to_string(options.rebootMs) + " ms");
    kick();
}

void RouterSim::Impl::acceptLoop() {
    for (;;) {
        int timeout = -1;
        std::vector<std::string> messages;
        std::vector<std::shared_ptr<Connection>> finished;
        int fd = -1;
        {
            std::lock_guard<std::mutex> lock(mutex);
            const auto now = Clock::now();
            if (rebooting && now >= rebootEnd) {
                rebooting = false;
                state.completeReboot();
                messages.push_back("reboot done: boot loader " + state.bootloaderVersion());
            } else if (rebooting) {
                timeout = msUntil(rebootEnd, now);
            }
            if (!rebooting && !listening && !options.refuse) {
                if (::listen(listenFd, 16) == 0) {
                    listening = true;
                } else {
                    messages.push_back(std::string("telnet not back yet: ") + std::strerror(errno));
                    timeout = relistenRetryMs;
                }
            }
            for (auto it = connections.begin(); it != connections.end();) {
                if ((*it)->finished) {
                    finished.push_back(*it);
                    it = connections.erase(it);
                } else {
                    ++it;
                }
            }
            fd = listening ? listenFd : -1;
        }
        for (const auto& message : messages) log(message);
        for (const auto& connection : finished) connection->thread.join();

        pollfd fds[3] = {{stopPipe[0], POLLIN, 0}, {kickPipe[0], POLLIN, 0}, {fd, POLLIN, 0}};
        if (::poll(fds, fd >= 0 ? 3 : 2, timeout) < 0 && errno != EINTR) return;
        if (fds[0].revents != 0) return;
        if (fds[1].revents != 0) {
            char drain[64];
            while (::read(kickPipe[0], drain, sizeof drain) > 0) {
            }
        }
        if (fd >= 0 && fds[2].revents != 0) {
            sockaddr_in peer{};
            socklen_t size = sizeof peer;
            const int client = ::accept4(fd, reinterpret_cast<sockaddr*>(&peer), &size, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (client >= 0) accepted(client, peer);
        }
    }
}

void RouterSim::Impl::accepted(int fd, const sockaddr_in& peer) {
    char address[INET_ADDRSTRLEN] = "?";
    ::inet_ntop(AF_INET, &peer.sin_addr, address, sizeof address);
    const std::string from = std::string(address) + ":" + std::to_string(ntohs(peer.sin_port));
    std::unique_lock<std::mutex> lock(mutex);
    // A reboot due by now ends before its first connection is served.
    std::string rebooted;
    if (rebooting && Clock::now() >= rebootEnd) {
        rebooting = false;
        state.completeReboot();
        rebooted = "reboot done: boot loader " + state.bootloaderVersion();
    }
    if (rebooting || connections.size() >= maxConnections || received.size() >= maxRecords) {
        lock.unlock();
        ::close(fd);
        if (!rebooted.empty()) log(rebooted);
        log("connection from " + from + " closed at once (" + (rebooting ? "rebooting" : "too many") + ")");
        return;
    }
    auto connection = std::make_shared<Connection>();
    connection->fd = fd;
    connection->id = nextId++;
    connection->record = received.size();
    received.emplace_back();
    connections.push_back(connection);
    connection->thread = std::thread([this, connection] { serve(connection); });
    const int id = connection->id;
    lock.unlock();
    if (!rebooted.empty()) log(rebooted);
    log("connection " + std::to_string(id) + " from " + from);
}

void RouterSim::Impl::serve(const std::shared_ptr<Connection>& connection) {
    const int fd = connection->fd;  // stays valid: only this thread closes it
    Session session(options, *this, connection->id);
    std::string out = session.greeting();
    Clock::time_point nextByte = Clock::now();
    Clock::time_point giveUp{};
    bool giveUpSet = false;
    const std::size_t outputLimit = maxQueuedOutput + options.floodBytes;
    std::string why = "closed";

    for (;;) {
        auto now = Clock::now();
        out += session.runDue(now);
        if (out.size() > outputLimit) {
            why = "dropped: the client does not read";
            break;
        }
        if (session.closing()) {
            if (out.empty()) break;
            if (!giveUpSet) {
                giveUp = now + std::chrono::milliseconds(flushGraceMs);
                giveUpSet = true;
            }
            if (now >= giveUp) break;
        }

        int timeout = -1;
        auto sooner = [&](int ms) { timeout = timeout < 0 ? ms : std::min(timeout, ms); };
        if (session.hasPending() && !session.closing()) sooner(msUntil(session.nextDue(), now));
        if (giveUpSet) sooner(msUntil(giveUp, now));
        short events = session.closing() ? 0 : POLLIN;
        if (!out.empty()) {
            if (options.trickleMs > 0 && now < nextByte) {
                sooner(msUntil(nextByte, now));
            } else {
                events |= POLLOUT;
            }
        }
        pollfd fds[2] = {{fd, events, 0}, {stopPipe[0], POLLIN, 0}};
        if (::poll(fds, 2, timeout) < 0 && errno != EINTR) break;
        if (fds[1].revents != 0) break;
        if (fds[0].revents & (POLLERR | POLLNVAL)) break;
        now = Clock::now();

        if (fds[0].revents & (POLLIN | POLLHUP)) {
            char buffer[4096];
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n == 0) break;
            if (n < 0 && errno != EAGAIN && errno != EINTR) break;
            if (n > 0) {
                {
                    std::lock_guard<std::mutex> lock(mutex);
                    std::string& record = received[connection->record];
                    record.append(buffer, std::min(static_cast<std::size_t>(n), maxRecordedBytes - record.size()));
                }
                out += session.receive(buffer, static_cast<std::size_t>(n), now);
            }
        }
        if ((fds[0].revents & POLLOUT) && !out.empty()) {
            const std::size_t size = options.trickleMs > 0 ? 1 : out.size();
            const ssize_t n = ::send(fd, out.data(), size, MSG_NOSIGNAL);
            if (n < 0 && errno != EAGAIN && errno != EINTR) break;
            if (n > 0) {
                out.erase(0, static_cast<std::size_t>(n));
                nextByte = now + std::chrono::milliseconds(options.trickleMs);
            }
        }
    }

    {
        std::lock_guard<std::mutex> lock(mutex);
        closeFd(connection->fd);
    }
    log("connection " + std::to_string(connection->id) + " " + why);
    connection->finished = true;
    kick();
}

RouterSim::RouterSim(Options options) : impl_(std::make_unique<Impl>(std::move(options))) {}

RouterSim::~RouterSim() { stop(); }

bool RouterSim::start(std::string* error) {
    Impl& d = *impl_;
    if (d.running) return true;
    std::string reason;
    if (::pipe2(d.stopPipe, O_CLOEXEC | O_NONBLOCK) != 0 || ::pipe2(d.kickPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        reason = std::string("pipe: ") + std::strerror(errno);
    } else {
        std::lock_guard<std::mutex> lock(d.mutex);
        d.boundPort = 0;
        d.listenFd = d.bindSocket(reason);
        if (d.listenFd >= 0 && d.options.port == 0) {
            // A port the system chose is given up when a reboot stops the
            // listening; bound by number, it stays ours.
            sockaddr_in at{};
            socklen_t size = sizeof at;
            ::getsockname(d.listenFd, reinterpret_cast<sockaddr*>(&at), &size);
            closeFd(d.listenFd);
            d.boundPort = ntohs(at.sin_port);
            d.listenFd = d.bindSocket(reason);
        }
        if (d.listenFd >= 0 && !d.options.refuse) {
            if (::listen(d.listenFd, 16) == 0) {
                d.listening = true;
            } else {
                reason = std::string("listen: ") + std::strerror(errno);
                closeFd(d.listenFd);
            }
        }
        if (d.listenFd >= 0) {
            sockaddr_in at{};
            socklen_t size = sizeof at;
            ::getsockname(d.listenFd, reinterpret_cast<sockaddr*>(&at), &size);
            d.boundPort = ntohs(at.sin_port);
        }
    }
    if (d.listenFd < 0) {
        for (int* fd : {&d.stopPipe[0], &d.stopPipe[1], &d.kickPipe[0], &d.kickPipe[1]}) closeFd(*fd);
        if (error) *error = reason;
        return false;
    }
    d.running = true;
    d.acceptor = std::thread([&d] { d.acceptLoop(); });
    d.log("telnet on " + d.options.address + ":" + std::to_string(d.boundPort) +
          (d.options.refuse ? " refusing every connection" : ""));
    return true;
}

void RouterSim::stop() {
    Impl& d = *impl_;
    if (!d.running) return;
    const char byte = 's';
    [[maybe_unused]] const ssize_t n = ::write(d.stopPipe[1], &byte, 1);
    d.acceptor.join();
    std::vector<std::shared_ptr<Connection>> connections;
    {
        std::lock_guard<std::mutex> lock(d.mutex);
        connections.swap(d.connections);
    }
    for (const auto& connection : connections) connection->thread.join();
    {
        std::lock_guard<std::mutex> lock(d.mutex);
        closeFd(d.listenFd);
        d.listening = false;
        if (d.rebooting) {
            d.rebooting = false;
            d.state.completeReboot();
        }
    }
    for (int* fd : {&d.stopPipe[0], &d.stopPipe[1], &d.kickPipe[0], &d.kickPipe[1]}) closeFd(*fd);
    d.running = false;
    d.log("stopped");
}

int RouterSim::port() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->boundPort;
}

std::vector<std::string> RouterSim::received() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->received;
}

std::string RouterSim::file(const std::string& path) const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->state.read(RouterState::resolve("/", path));
}

std::vector<std::string> RouterSim::files() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->state.files();
}

std::map<std::string, std::string> RouterSim::variables(const std::string& path) const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->state.variables(RouterState::resolve("/", path));
}

int RouterSim::reboots() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->reboots;
}

bool RouterSim::rebooting() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->rebooting;
}

std::string RouterSim::bootloaderVersion() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->state.bootloaderVersion();
}

}  // namespace routersim
