#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "link/WireTap.h"
#include "records/Secrets.h"

namespace vornix {

// Every byte of a run's connections, both ways, with the milliseconds since
// the run began and the connection's number, kept for the run's transcript
// file. A router that floods gets its first maxBytes kept and the rest
// counted.
class Transcript : public WireTap {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::size_t defaultMaxBytes = 4u << 20;

    explicit Transcript(Clock::time_point began, std::size_t maxBytes = defaultMaxBytes)
        : began_(began), maxBytes_(maxBytes) {}

    void opened(int connection, const std::string& host, int port, bool connected) override;
    void sent(int connection, const char* bytes, std::size_t size) override;
    void received(int connection, const char* bytes, std::size_t size) override;
    void closed(int connection) override;

    // The transcript as text: one line per line of data, "[time ms] #N ->"
    // for what the station sent and "<-" for what came back, every byte that
    // is not printable escaped (\r \n \t \\ \xNN), secrets masked also
    // where they were split between two receives.
    std::string text(const Secrets& secrets) const;

private:
    enum class Kind { Opened, Sent, Received, Closed };
    struct Event {
        long long ms;
        int connection;  // the run's own numbering, 1 for its first
        Kind kind;
        std::string bytes;  // data, or what an open or close says
        std::size_t offset = 0;  // where the data starts in its stream
    };
    void record(int connection, Kind kind, const char* bytes, std::size_t size);
    int number(int connection);  // lock held

    Clock::time_point began_;
    std::size_t maxBytes_;
    mutable std::mutex mutex_;
    std::vector<Event> events_;
    std::map<int, int> numbers_;
    std::map<std::pair<int, Kind>, std::string> streams_;  // each connection's bytes, each way
    std::size_t kept_ = 0;
    std::size_t dropped_ = 0;
};

}  // namespace vornix
