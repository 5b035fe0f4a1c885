#include "link/TelnetChannel.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "link/ResponseCapture.h"

namespace vornix {

namespace detail {

// What the copies of one connected channel and its collectors share. A
// collector enters a receive only while the connection is open, and close()
// releases the socket only when no collector is inside one, so no collector
// ever reads a descriptor that has been reused for another connection.
struct Connection {
    net::SocketHandle handle = net::noSocket;
    bool socketsStarted = false;
    std::mutex mutex;
    std::condition_variable idle;
    bool closed = false;
    int receiving = 0;
    // One receive at a time, its chunk handed to the capture before the next
    // receive begins: the capture gets the chunks in the order they arrived,
    // however many collectors wait on the socket.
    std::mutex receiveTurn;
};

}  // namespace detail

namespace {

std::atomic<int> collectorCount{0};

struct Finished {
    std::mutex mutex;
    std::condition_variable signal;
    bool done = false;
};

void collect(std::shared_ptr<detail::Connection> connection, std::shared_ptr<Finished> finished) {
    char buffer[4096];
    ResponseCapture::Clock::time_point lastArrival{};
    for (;;) {
        std::unique_lock<std::mutex> turn(connection->receiveTurn);
        {
            std::lock_guard<std::mutex> lock(connection->mutex);
            if (connection->closed) break;
            ++connection->receiving;
        }
        const int received = net::receive(connection->handle, buffer, sizeof buffer);
        if (received > 0) {
            lastArrival = ResponseCapture::Clock::now();
            ResponseCapture::instance().received(buffer, static_cast<std::size_t>(received), lastArrival);
        }
        turn.unlock();
        {
            std::lock_guard<std::mutex> lock(connection->mutex);
            --connection->receiving;
        }
        connection->idle.notify_all();
        if (received <= 0) break;  // closed by the router (0) or by our own close (error)
    }
    // A wait that ends with its collector sees what that collector took.
    std::this_thread::sleep_until(lastArrival + ResponseCapture::visibleAfter);
    {
        std::lock_guard<std::mutex> lock(finished->mutex);
        finished->done = true;
    }
    finished->signal.notify_all();
    --collectorCount;
}

}  // namespace

int TelnetChannel::connect(const std::string& host, int port) {
    if (connection_) close();
    auto connection = std::make_shared<detail::Connection>();
    if (!net::startSockets(2, 2)) return 0;
    connection->socketsStarted = true;
    connection_ = connection;

    net::SocketHandle handle = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (handle == net::noSocket) return 0;
#ifndef _WIN32
    // 0 means "no socket" in a channel: never hold descriptor 0, should
    // standard input be closed.
    if (handle == 0) {
        const int moved = ::fcntl(handle, F_DUPFD_CLOEXEC, 3);
        ::close(handle);
        if (moved < 0) return 0;
        handle = moved;
    }
#endif
    connection->handle = handle;
    socket_ = handle;

    in_addr address{};
    if (!net::resolveIPv4(host.c_str(), address)) return 0;
    peer_ = sockaddr_in{};
    peer_.sin_family = AF_INET;
    peer_.sin_port = htons(static_cast<unsigned short>(port));
    peer_.sin_addr = address;
    return ::connect(handle, reinterpret_cast<const sockaddr*>(&peer_), sizeof peer_) == 0 ? 1 : 0;
}

int TelnetChannel::send(const std::string& text) const {
    if (!connection_ || connection_->handle == net::noSocket) return -1;
    {
        std::lock_guard<std::mutex> lock(connection_->mutex);
        if (connection_->closed) return -1;
    }
    // Stamped before it goes: an answer can come back before send() returns.
    ResponseCapture::instance().sent(text, ResponseCapture::Clock::now());
    return net::sendBytes(connection_->handle, text.c_str(), static_cast<int>(std::strlen(text.c_str())));
}

void TelnetChannel::close() {
    std::shared_ptr<detail::Connection> connection = std::move(connection_);
    connection_.reset();
    socket_ = 0;
    if (!connection) return;
    {
        std::lock_guard<std::mutex> lock(connection->mutex);
        if (connection->closed) return;  // another copy closed it
        connection->closed = true;
    }
    if (connection->handle != net::noSocket) {
        net::shutdownBoth(connection->handle);  // wakes every collector blocked in a receive
        {
            std::unique_lock<std::mutex> lock(connection->mutex);
            // A receive that shutdown does not wake is woken by the close below.
            connection->idle.wait_for(lock, std::chrono::seconds(2), [&] { return connection->receiving == 0; });
        }
        net::closeSocket(connection->handle);
    }
    if (connection->socketsStarted) net::stopSockets();
}

int collectFor(const TelnetChannel& channel, int milliseconds) {
    std::shared_ptr<detail::Connection> connection = channel.connection_;
    if (!connection || connection->handle == net::noSocket) return 1;
    auto finished = std::make_shared<Finished>();
    ++collectorCount;
    try {
        std::thread(collect, connection, finished).detach();
    } catch (...) {
        --collectorCount;
        return 1;  // no collector: nothing collected, no wait
    }
    std::unique_lock<std::mutex> lock(finished->mutex);
    finished->signal.wait_for(lock, std::chrono::milliseconds(milliseconds > 0 ? milliseconds : 0),
                              [&] { return finished->done; });
    return 1;
}

int runningCollectors() { return collectorCount.load(); }

}  // namespace vornix
