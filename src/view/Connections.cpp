#include "view/Connections.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace vornix::view {

namespace {

// A connection closed after an answer still takes what the client sends for
// this long: closed with unread bytes, the kernel would reset it, and the
// client could lose the answer.
constexpr auto lingerTime = std::chrono::seconds(2);

bool waitFor(int fd, short events, int ms) {
    pollfd one{fd, events, 0};
    for (;;) {
        const int n = ::poll(&one, 1, ms);
        if (n < 0 && errno == EINTR) continue;
        return n > 0 && (one.revents & (events | POLLHUP | POLLERR));
    }
}

void addressOf(int fd, bool peer, std::string& ip, int& port) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    auto* raw = reinterpret_cast<sockaddr*>(&address);
    if ((peer ? ::getpeername(fd, raw, &length) : ::getsockname(fd, raw, &length)) != 0) return;
    char text[INET6_ADDRSTRLEN] = "";
    if (address.ss_family == AF_INET) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(&address);
        ::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
        port = ntohs(in->sin_port);
    } else if (address.ss_family == AF_INET6) {
        const auto* in = reinterpret_cast<const sockaddr_in6*>(&address);
        ::inet_ntop(AF_INET6, &in->sin6_addr, text, sizeof text);
        port = ntohs(in->sin6_port);
    }
    ip = text;
}

// A short answer the waiting thread sends itself before closing; it never
// waits for the client to take it.
void sayAndClose(int fd, const char* status, const char* text) {
    const std::string answer = std::string("HTTP/1.1 ") + status +
                               "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " +
                               std::to_string(std::strlen(text)) + "\r\nConnection: close\r\n\r\n" + text;
    [[maybe_unused]] const ssize_t sent = ::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

}  // namespace

struct Connections::Connection {
    explicit Connection(int socket) : fd(socket), since(Clock::now()) {}
    ~Connection() { ::close(fd); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    const int fd;
    std::string buffer;     // received and not yet taken by an answer
    std::size_t taken = 0;  // of buffer, by the answer being made
    Clock::time_point since;  // idle since, or the head's first byte, or closing since
    bool reading = false;     // part of a head is in the buffer
    bool closing = false;     // answered for the last time; what comes is dropped
    int served = 0;
};

namespace {

// The connection as the library's request parser reads and writes it: the
// gathered head first, then the socket, never waiting long (the view takes
// no bodies), and each write waiting at most the write limit.
class ConnectionStream : public httplib::Stream {
public:
    ConnectionStream(int fd, std::string& buffer, std::size_t& taken, int writeSeconds)
        : fd_(fd), buffer_(buffer), taken_(taken), writeMs_(writeSeconds * 1000) {}

    bool is_readable() const override { return taken_ < buffer_.size() || waitFor(fd_, POLLIN, readMs); }
    bool is_writable() const override { return waitFor(fd_, POLLOUT, writeMs_); }

    ssize_t read(char* data, size_t size) override {
        if (taken_ < buffer_.size()) {
            const std::size_t n = std::min(size, buffer_.size() - taken_);
            std::memcpy(data, buffer_.data() + taken_, n);
            taken_ += n;
            return static_cast<ssize_t>(n);
        }
        if (!waitFor(fd_, POLLIN, readMs)) return -1;
        const ssize_t n = ::recv(fd_, data, size, MSG_DONTWAIT);
        return n < 0 ? -1 : n;
    }

    ssize_t write(const char* data, size_t size) override {
        std::size_t sent = 0;
        while (sent < size) {
            const ssize_t n = ::send(fd_, data + sent, size - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0) {
                sent += static_cast<std::size_t>(n);
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && waitFor(fd_, POLLOUT, writeMs_)) {
                continue;
            } else {
                return -1;
            }
        }
        return static_cast<ssize_t>(size);
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override { addressOf(fd_, true, ip, port); }
    void get_local_ip_and_port(std::string& ip, int& port) const override { addressOf(fd_, false, ip, port); }
    socket_t socket() const override { return fd_; }

private:
    static constexpr int readMs = 1000;
    const int fd_;
    std::string& buffer_;
    std::size_t& taken_;
    const int writeMs_;
};

}  // namespace

Connections::Connections(ConnectionLimits limits, Serve serve) : limits_(limits), serve_(std::move(serve)) {
    if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) wake_[0] = wake_[1] = -1;
    waiter_ = std::thread([this] { waitLoop(); });
    for (int i = 0; i < limits_.workers; ++i) workers_.emplace_back([this] { work(); });
}

Connections::~Connections() {
    stop();
    for (int fd : wake_)
        if (fd >= 0) ::close(fd);
}

bool Connections::headComplete(const std::string& text) { return text.find("\r\n\r\n") != std::string::npos; }

void Connections::adopt(int socket) {
    const int yes = 1;
    ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    auto connection = std::make_unique<Connection>(socket);
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return;  // closed with it
    ++open_;
    arriving_.push_back(std::move(connection));
    [[maybe_unused]] const ssize_t woke = ::write(wake_[1], "x", 1);
}

void Connections::park(std::unique_ptr<Connection> connection) {
    std::lock_guard<std::mutex> lock(mutex_);
    arriving_.push_back(std::move(connection));
    [[maybe_unused]] const ssize_t woke = ::write(wake_[1], "x", 1);
}

void Connections::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_ && !waiter_.joinable()) return;
        stopping_ = true;
        if (wake_[1] >= 0) {
            [[maybe_unused]] const ssize_t woke = ::write(wake_[1], "x", 1);
        }
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        wakeWorkers(idle_.size());
    }
    if (waiter_.joinable()) waiter_.join();
    for (std::thread& worker : workers_)
        if (worker.joinable()) worker.join();
    std::lock_guard<std::mutex> lock(mutex_);
    arriving_.clear();
    complete_.clear();
    waiting_.clear();
    open_ = 0;
}

// Over the limit of open connections: the longest idle ones make room, so
// that nobody holds the view by opening many and sending nothing.
void Connections::evictIdle() {
    std::size_t excess = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        excess = open_ > limits_.connections ? open_ - limits_.connections : 0;
    }
    auto rank = [](const std::unique_ptr<Connection>& c) { return c->closing ? 0 : c->reading ? 2 : 1; };
    std::size_t evicted = 0;
    for (; evicted < excess && !waiting_.empty(); ++evicted) {
        const auto victim = std::min_element(waiting_.begin(), waiting_.end(), [&](const auto& a, const auto& b) {
            return rank(a) != rank(b) ? rank(a) < rank(b) : a->since < b->since;
        });
        waiting_.erase(victim);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    open_ -= evicted;
}

bool Connections::gather(Connection& connection, Clock::time_point now) {
    char chunk[4096];
    const ssize_t n = ::recv(connection.fd, chunk, sizeof chunk, MSG_DONTWAIT);
    if (n == 0) return false;
    if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    if (connection.closing) return true;
    if (!connection.reading) {
        connection.reading = true;
        connection.since = now;
    }
    connection.buffer.append(chunk, static_cast<std::size_t>(n));
    if (connection.buffer.size() > limits_.headBytes && !headComplete(connection.buffer)) {
        sayAndClose(connection.fd, "431 Request Header Fields Too Large",
                    "the request's line and headers are longer than the view takes\n");
        return false;
    }
    return true;
}

void Connections::waitLoop() {
    std::vector<pollfd> polled;
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_) return;
            for (auto& connection : arriving_) waiting_.push_back(std::move(connection));
            arriving_.clear();
        }
        evictIdle();

        auto deadline = [this](const Connection& c) {
            return c.since + (c.closing   ? std::chrono::duration_cast<Clock::duration>(lingerTime)
                              : c.reading ? std::chrono::duration_cast<Clock::duration>(std::chrono::seconds(limits_.headSeconds))
                                          : std::chrono::duration_cast<Clock::duration>(std::chrono::seconds(limits_.idleSeconds)));
        };
        Clock::time_point now = Clock::now();
        long long waitMs = 1000;
        polled.assign(1, pollfd{wake_[0], POLLIN, 0});
        for (const auto& connection : waiting_) {
            polled.push_back(pollfd{connection->fd, POLLIN, 0});
            const long long left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline(*connection) - now).count();
            waitMs = std::max(0LL, std::min(waitMs, left + 1));
        }
        if (::poll(polled.data(), polled.size(), static_cast<int>(waitMs)) < 0 && errno != EINTR) continue;
        if (polled[0].revents & POLLIN) {
            char drained[256];
            while (::read(wake_[0], drained, sizeof drained) > 0) {
            }
        }

        now = Clock::now();
        std::vector<std::unique_ptr<Connection>> still, complete;
        std::size_t closed = 0;
        for (std::size_t i = 0; i < waiting_.size(); ++i) {
            std::unique_ptr<Connection>& connection = waiting_[i];
            bool open = !(polled[i + 1].revents & (POLLIN | POLLHUP | POLLERR)) || gather(*connection, now);
            if (open && !connection->closing && headComplete(connection->buffer)) {
                complete.push_back(std::move(connection));
                continue;
            }
            if (open && now >= deadline(*connection)) {
                if (connection->reading && !connection->closing)
                    sayAndClose(connection->fd, "408 Request Timeout", "the request's head came too slowly\n");
                open = false;
            }
            if (open) still.push_back(std::move(connection));
            else ++closed;
        }
        waiting_ = std::move(still);
        std::lock_guard<std::mutex> lock(mutex_);
        open_ -= closed;
        for (auto& connection : complete) complete_.push_back(std::move(connection));
        wakeWorkers(complete.size());
    }
}

void Connections::wakeWorkers(std::size_t count) {
    for (; count > 0 && !idle_.empty(); --count) {
        Idle* worker = idle_.back();
        idle_.pop_back();
        worker->woken = true;
        worker->wake.notify_one();
    }
}

void Connections::work() {
    for (;;) {
        std::unique_ptr<Connection> connection;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            while (!stopping_ && complete_.empty()) {
                Idle self;
                idle_.push_back(&self);
                self.wake.wait(lock, [&] { return self.woken || stopping_; });
                if (!self.woken) idle_.erase(std::find(idle_.begin(), idle_.end(), &self));
            }
            if (stopping_) return;
            connection = std::move(complete_.front());
            complete_.pop_front();
        }
        // Answers one request after the other while whole ones are there
        // (a client may send several at once), then waits for more.
        bool open = true, broken = false;
        do {
            bool close = false;
            const bool last = ++connection->served >= limits_.requestsPerConnection;
            ConnectionStream stream(connection->fd, connection->buffer, connection->taken, limits_.writeSeconds);
            broken = !serve_(stream, last, close);
            connection->buffer.erase(0, connection->taken);
            connection->taken = 0;
            open = !broken && !close && !last;
        } while (open && headComplete(connection->buffer));

        if (broken) {
            connection.reset();
            std::lock_guard<std::mutex> lock(mutex_);
            --open_;
            continue;
        }
        connection->since = Clock::now();
        connection->reading = open && !connection->buffer.empty();
        if (!open) {
            connection->closing = true;
            ::shutdown(connection->fd, SHUT_WR);
        }
        park(std::move(connection));
    }
}

}  // namespace vornix::view
