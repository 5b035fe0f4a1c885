#include "link/TelnetChannel.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "link/Net.h"
#include "link/ResponseCapture.h"
#include "link/DetachedThread.h"
#include "link/WireTap.h"

namespace vornix {

namespace detail {

// What the copies of one connected channel and its collectors share. A
// collector enters a receive only while the connection is open, and close()
// releases the socket only when no collector is inside one, so no collector
// ever reads a descriptor that has been reused for another connection.
struct Connection {
    int id = 0;
    net::SocketHandle handle = net::noSocket;
    bool socketsStarted = false;
    std::mutex mutex;
    std::condition_variable idle;
    bool closed = false;
    int receiving = 0;
    int collectors = 0;  // running on this connection
    bool peerClosed = false;  // a receive saw the router end the connection
    // One receive at a time, its chunk handed to the capture before the next
    // receive begins: the capture gets the chunks in the order they arrived,
    // however many collectors wait on the socket.
    std::mutex receiveTurn;
};

}  // namespace detail

namespace {

std::mutex tapMutex;
std::shared_ptr<WireTap> currentTap;
std::atomic<int> lastConnection{0};

std::mutex collectorsMutex;
std::condition_variable collectorsEnded;
int collectorCount = 0;

void collectorStarted() {
    std::lock_guard<std::mutex> lock(collectorsMutex);
    ++collectorCount;
}

void collectorEnded() {
    std::lock_guard<std::mutex> lock(collectorsMutex);
    if (--collectorCount == 0) collectorsEnded.notify_all();
}


struct Finished {
    std::atomic<bool> done{false};
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
        if (received == 0) {
            {
                std::lock_guard<std::mutex> lock(connection->mutex);
                connection->peerClosed = true;
            }
            ResponseCapture::instance().wake();  // whoever waits for the router to close
        }
        if (received > 0) {
            lastArrival = ResponseCapture::Clock::now();
            // Recorded before the station can act on it: what it sends in
            // answer comes after it in the transcript.
            if (const auto tap = wireTap()) tap->received(connection->id, buffer, static_cast<std::size_t>(received));
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
    // (A sleep may end a little early on some systems: hence the loop.)
    const auto visible = lastArrival + ResponseCapture::visibleAfter;
    while (ResponseCapture::Clock::now() < visible) std::this_thread::sleep_until(visible);
    {
        std::lock_guard<std::mutex> lock(connection->mutex);
        --connection->collectors;
    }
    finished->done = true;
    ResponseCapture::instance().wake();
    collectorEnded();
}

}  // namespace

int TelnetChannel::connect(const std::string& host, int port, const RouterPort& via) {
    if (connection_) close();
    auto connection = std::make_shared<detail::Connection>();
    connection->id = ++lastConnection;
    const auto tap = wireTap();
    if (!net::startSockets(2, 2)) {
        if (tap) tap->opened(connection->id, host, port, false);
        return 0;
    }
    connection->socketsStarted = true;
    connection_ = connection;
    connection->handle = net::openTcp();
    if (connection->handle == net::noSocket) {
        if (tap) tap->opened(connection->id, host, port, false);
        return 0;
    }
    if (via.bound()) {
        // Never through another port: a router on another port answers at the same address.
        std::uint32_t local = 0;
        std::string why = "its address " + via.localAddress + " is not a dotted IPv4 address";
        if (!net::resolveIPv4(via.localAddress, local) ||
            !net::bindToPort(connection->handle, via.interfaceName, local, why)) {
            std::fprintf(stderr, "vornix: cannot connect through port %d (%s): %s\n", via.number,
                         via.interfaceName.c_str(), why.c_str());
            if (tap) tap->opened(connection->id, host, port, false);
            return 0;
        }
    }
    std::uint32_t address = 0;
    const bool connected = net::resolveIPv4(host, address) && net::connectTo(connection->handle, address, port);
    if (tap) tap->opened(connection->id, host, port, connected);
    return connected ? 1 : 0;
}

bool TelnetChannel::connected() const {
    if (!connection_ || connection_->handle == net::noSocket) return false;
    std::lock_guard<std::mutex> lock(connection_->mutex);
    return !connection_->closed;
}

bool TelnetChannel::closedByRouter() const {
    if (!connection_) return false;
    std::lock_guard<std::mutex> lock(connection_->mutex);
    return connection_->peerClosed;
}

int TelnetChannel::send(const std::string& text) const {
    if (!connection_ || connection_->handle == net::noSocket) return -1;
    {
        std::lock_guard<std::mutex> lock(connection_->mutex);
        if (connection_->closed) return -1;
    }
    // Stamped before it goes: an answer can come back before send() returns.
    ResponseCapture::instance().sent(text, ResponseCapture::Clock::now());
    const int size = static_cast<int>(std::strlen(text.c_str()));
    if (const auto tap = wireTap()) tap->sent(connection_->id, text.c_str(), static_cast<std::size_t>(size));
    return net::sendBytes(connection_->handle, text.c_str(), size);
}

void TelnetChannel::close() {
    std::shared_ptr<detail::Connection> connection = std::move(connection_);
    connection_.reset();
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
        if (const auto tap = wireTap()) tap->closed(connection->id);
    }
    if (connection->socketsStarted) net::stopSockets();
}

namespace {

// Starts a collector on the connection; nullptr when none could be started.
std::shared_ptr<Finished> startCollector(const std::shared_ptr<detail::Connection>& connection) {
    auto finished = std::make_shared<Finished>();
    collectorStarted();
    {
        std::lock_guard<std::mutex> lock(connection->mutex);
        ++connection->collectors;
    }
    try {
        platform::startDetached([connection, finished] { collect(connection, finished); });
    } catch (...) {
        {
            std::lock_guard<std::mutex> lock(connection->mutex);
            --connection->collectors;
        }
        collectorEnded();
        return nullptr;
    }
    return finished;
}

}  // namespace

int collectFor(const TelnetChannel& channel, int milliseconds) { return collectUntil(channel, milliseconds, {}); }

int collectUntil(const TelnetChannel& channel, int milliseconds, const std::function<bool()>& done) {
    std::shared_ptr<detail::Connection> connection = channel.connection_;
    if (!connection || connection->handle == net::noSocket) return 1;
    const std::shared_ptr<Finished> finished = startCollector(connection);
    if (!finished) return 1;  // no collector: nothing collected, no wait
    const auto deadline = ResponseCapture::Clock::now() + std::chrono::milliseconds(milliseconds > 0 ? milliseconds : 0);
    ResponseCapture::instance().waitUntil([&] { return finished->done || (done && done()); }, deadline);
    return 1;
}

bool waitOnChannel(const TelnetChannel& channel, int milliseconds, const std::function<bool()>& done) {
    std::shared_ptr<detail::Connection> connection = channel.connection_;
    if (connection && connection->handle != net::noSocket) {
        bool idle;
        {
            std::lock_guard<std::mutex> lock(connection->mutex);
            idle = connection->collectors == 0 && !connection->closed;
        }
        // Someone must be receiving for anything to arrive.
        if (idle) startCollector(connection);
    }
    const auto deadline = ResponseCapture::Clock::now() + std::chrono::milliseconds(milliseconds > 0 ? milliseconds : 0);
    return ResponseCapture::instance().waitUntil(done, deadline);
}

bool waitForRouterClose(const TelnetChannel& channel, int milliseconds) {
    const std::shared_ptr<detail::Connection> connection = channel.connection_;
    if (!connection || connection->handle == net::noSocket) return true;
    return waitOnChannel(channel, milliseconds, [&] {
        std::lock_guard<std::mutex> lock(connection->mutex);
        return connection->peerClosed || connection->closed;
    });
}

void setWireTap(std::shared_ptr<WireTap> tap) {
    std::lock_guard<std::mutex> lock(tapMutex);
    currentTap = std::move(tap);
}

std::shared_ptr<WireTap> wireTap() {
    std::lock_guard<std::mutex> lock(tapMutex);
    return currentTap;
}

bool awaitCollectors(int timeoutMs) {
    std::unique_lock<std::mutex> lock(collectorsMutex);
    return collectorsEnded.wait_for(lock, std::chrono::milliseconds(timeoutMs), [] { return collectorCount == 0; });
}

}  // namespace vornix
