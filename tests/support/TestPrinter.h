#pragma once

// A label printer of the tests' own on a loopback address: it takes raw ZPL
// on each connection, answers ~HS as a ready printer, one out of paper, or
// not at all, and keeps each connection's other bytes as one label.
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/TestSockets.h"

namespace vornix::test {

class TestPrinter {
public:
    enum class Mode { Ready, PaperOut, Silent };

    TestPrinter(const char* address, Mode mode) : address_(address), mode_(mode) {
        testnet::startSockets(2, 2);
        listener_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = inet_addr(address);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&at), sizeof at);
        ::listen(listener_, 8);
        socklen_t size = sizeof at;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&at), &size);
        port_ = ntohs(at.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~TestPrinter() {
        testnet::shutdownBoth(listener_);
        testnet::closeSocket(listener_);
        thread_.join();
        testnet::stopSockets();
    }
    int port() const { return port_; }
    // As setup.ini names it.
    std::string printer() const { return "tcp:" + std::string(address_) + ":" + std::to_string(port_); }

    // Every connection made before this call is over and counted: a
    // connection of the test's own goes last through the one queue.
    void settle() {
        const testnet::SocketHandle own = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = inet_addr(address_);
        at.sin_port = htons(static_cast<unsigned short>(port_));
        ::connect(own, reinterpret_cast<sockaddr*>(&at), sizeof at);
        testnet::sendBytes(own, settleMark, static_cast<int>(sizeof settleMark - 1));
        testnet::shutdownBoth(own);
        testnet::closeSocket(own);
        std::unique_lock<std::mutex> lock(mutex_);
        // A guard only: the mark arrives once the connections before it ended.
        changed_.wait_for(lock, std::chrono::seconds(30), [&] { return settled_ > settlesAsked_; });
        ++settlesAsked_;
    }
    // The labels received (call settle() first), and how many connections asked ~HS.
    std::vector<std::string> labels() {
        std::lock_guard<std::mutex> lock(mutex_);
        return labels_;
    }
    int statusAsked() {
        std::lock_guard<std::mutex> lock(mutex_);
        return statusAsked_;
    }

private:
    static constexpr char settleMark[] = "\x01settle";

    // What each mode answers: string 1's second field is paper out.
    std::string statusAnswer() const {
        const std::string paper = mode_ == Mode::PaperOut ? "1" : "0";
        return "\x02" "030," + paper + ",0,1218,000,0,0,0,000,0,0,0\x03\r\n"
               "\x02" "001,0,0,0,1,2,6,0,00000000,1,000\x03\r\n"
               "\x02" "1234,0\x03\r\n";
    }

    void serve() {
        for (;;) {
            const testnet::SocketHandle client = ::accept(listener_, nullptr, nullptr);
            if (client == testnet::noSocket) return;
            std::string bytes;
            bool answered = false;
            char buffer[4096];
            for (int got; (got = testnet::receive(client, buffer, sizeof buffer)) > 0;) {
                bytes.append(buffer, static_cast<std::size_t>(got));
                const std::size_t ask = bytes.find("~HS");
                if (ask != std::string::npos && !answered) {
                    answered = true;
                    bytes.erase(ask, 3);
                    {
                        std::lock_guard<std::mutex> lock(mutex_);
                        ++statusAsked_;
                    }
                    if (mode_ != Mode::Silent) {
                        const std::string answer = statusAnswer();
                        testnet::sendBytes(client, answer.data(), static_cast<int>(answer.size()));
                    }
                }
            }
            testnet::closeSocket(client);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (bytes == settleMark) ++settled_;
                else if (!bytes.empty()) labels_.push_back(bytes);
            }
            changed_.notify_all();
        }
    }

    const char* address_;
    Mode mode_;
    testnet::SocketHandle listener_ = testnet::noSocket;
    int port_ = 0;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> labels_;
    int statusAsked_ = 0, settled_ = 0, settlesAsked_ = 0;
};

}  // namespace vornix::test
