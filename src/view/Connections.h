#pragma once

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vornix::view {

// What one client may take of the view.
struct ConnectionLimits {
    std::size_t connections = 512;   // open at once; beyond, the longest idle one is closed
    std::size_t headBytes = 16384;   // a request line and its headers
    int headSeconds = 10;            // from a request's first byte to its blank line
    int idleSeconds = 15;            // before a connection's first request and between two
    int writeSeconds = 10;           // one write waiting for the client to take bytes
    int requestsPerConnection = 100;
    int workers = 8;                 // threads answering complete requests
};

// The connections of the view's HTTP server. The library gives each
// connection a thread of its pool for as long as it stays open, so a few
// hundred idle ones stop every answer. Here one thread waits on all of them
// and gathers each request's head; a worker is taken only by a request whose
// head is complete, for that one answer. Clients that send slowly, too much
// or nothing are closed by the limits.
class Connections {
public:
    // Answers the request at the stream's front; false when the connection
    // broke. lastRequest: the answer says the connection closes. close: set
    // when the connection must close after this answer.
    using Serve = std::function<bool(httplib::Stream& stream, bool lastRequest, bool& close)>;

    Connections(ConnectionLimits limits, Serve serve);
    ~Connections();
    Connections(const Connections&) = delete;
    Connections& operator=(const Connections&) = delete;

    // A socket just accepted: from now on this object owns it.
    void adopt(int socket);
    // Closes every connection; returns once no worker answers any more.
    void stop();

    // Whether text holds a whole request head (up to its blank line).
    static bool headComplete(const std::string& text);

private:
    struct Connection;
    using Clock = std::chrono::steady_clock;
    void waitLoop();
    void work();
    // The waiting thread's part for one connection that may be read.
    bool gather(Connection& connection, Clock::time_point now);
    void park(std::unique_ptr<Connection> connection);
    void evictIdle();
    // Wakes the idle workers for count new requests; the caller holds mutex_.
    void wakeWorkers(std::size_t count);

    const ConnectionLimits limits_;
    const Serve serve_;
    int wake_[2] = {-1, -1};  // a pipe: wakes the waiting thread

    std::mutex mutex_;
    // Idle workers, the last to finish on top: the next request goes to it,
    // so that a few warm threads (and their allocation arenas) answer a
    // quiet view rather than each of the pool in turn.
    struct Idle {
        std::condition_variable wake;
        bool woken = false;
    };
    std::vector<Idle*> idle_;
    bool stopping_ = false;
    std::size_t open_ = 0;                              // every connection this object owns
    std::vector<std::unique_ptr<Connection>> arriving_;  // to be waited on
    std::deque<std::unique_ptr<Connection>> complete_;   // a head to answer

    std::vector<std::unique_ptr<Connection>> waiting_;  // the waiting thread's own
    std::thread waiter_;
    std::vector<std::thread> workers_;
};

}  // namespace vornix::view
