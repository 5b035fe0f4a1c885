#pragma once

// A one-connection TCP server on a loopback address for channel tests: it
// accepts, records what arrives, and sends or closes when told.
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "support/TestSockets.h"

namespace vornix::test {

class LoopbackServer {
public:
    explicit LoopbackServer(const char* address) : address_(address) {
        testnet::startSockets(2, 2);
        listener_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = inet_addr(address);
        at.sin_port = 0;
        ::bind(listener_, reinterpret_cast<sockaddr*>(&at), sizeof at);
        ::listen(listener_, 4);
        socklen_t size = sizeof at;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&at), &size);
        port_ = ntohs(at.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~LoopbackServer() {
        closeClient();
        testnet::shutdownBoth(listener_);
        testnet::closeSocket(listener_);
        thread_.join();
        testnet::stopSockets();
    }
    int port() const { return port_; }
    const char* address() const { return address_; }

    bool waitForClient(int timeoutMs = 5000) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return client_ != testnet::noSocket; });
    }
    void send(const std::string& bytes) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (client_ != testnet::noSocket) testnet::sendBytes(client_, bytes.data(), static_cast<int>(bytes.size()));
    }
    void closeClient() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (client_ != testnet::noSocket && !clientClosed_) testnet::shutdownBoth(client_);
        clientClosed_ = true;
    }
    // Waits until at least size bytes arrived (or the time is up).
    std::string received(std::size_t size = 0, int timeoutMs = 3000) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return received_.size() >= size; });
        return received_;
    }

private:
    void serve() {
        const testnet::SocketHandle client = ::accept(listener_, nullptr, nullptr);
        if (client == testnet::noSocket) return;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            client_ = client;
        }
        changed_.notify_all();
        char buffer[1024];
        for (;;) {
            const int got = testnet::receive(client, buffer, sizeof buffer);
            if (got <= 0) break;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                received_.append(buffer, static_cast<std::size_t>(got));
            }
            changed_.notify_all();
        }
        std::lock_guard<std::mutex> lock(mutex_);
        testnet::closeSocket(client_);
        clientClosed_ = true;
    }

    const char* address_;
    testnet::SocketHandle listener_ = testnet::noSocket;
    int port_ = 0;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    testnet::SocketHandle client_ = testnet::noSocket;
    bool clientClosed_ = false;
    std::string received_;
};

}  // namespace vornix::test
