#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "link/WireTap.h"
#include "records/Secrets.h"

namespace vornix {

// Every byte of a run's connections, both ways, with the milliseconds since
// the run began and the connection's number, written out as the run goes:
// one line per line of data, "[time ms] #N ->" for what the station sent and
// "<-" for what came back, every byte that is not printable escaped
// (\r \n \t \\ \xNN). Secrets are masked before a byte leaves: the end of a
// stream that could be the start of a secret is held back until the next
// bytes of that stream tell; a stream that ends there (closed, finished)
// shows "***" for it, as does a note that ends with one. A router that
// floods gets its first maxBytes kept and the rest counted; the cut never
// keeps part of a secret.
class Transcript : public WireTap {
public:
    using Clock = std::chrono::steady_clock;
    // Takes whole lines, in order; called under the transcript's lock.
    using Sink = std::function<void(const std::string& lines)>;
    static constexpr std::size_t defaultMaxBytes = 4u << 20;

    Transcript(Clock::time_point began, Secrets secrets, Sink sink, std::size_t maxBytes = defaultMaxBytes);
    // One kept in memory, masked only when its text() is asked for.
    explicit Transcript(Clock::time_point began, std::size_t maxBytes = defaultMaxBytes);

    void opened(int connection, const std::string& host, int port, bool connected) override;
    void sent(int connection, const char* bytes, std::size_t size) override;
    void received(int connection, const char* bytes, std::size_t size) override;
    void closed(int connection) override;

    // A line of the station's own between the data: "[time ms] text",
    // masked and escaped.
    void note(const std::string& text);
    // The bytes still held back go out, then the count of those dropped at
    // the cap; nothing is written after.
    void finish();

    // The text of a transcript kept in memory, finished.
    std::string text(const Secrets& secrets) const;

private:
    // One way of one connection.
    struct Stream {
        std::string held;               // not written yet: it may be the start of a secret
        std::vector<bool> heldHidden;   // which of those belong to a secret already found
        std::size_t offset = 0;         // where held starts in the stream
        std::size_t limit = static_cast<std::size_t>(-1);  // from here on past the cap
        bool masking = false;           // the last byte written was a secret's
    };
    struct Event {  // a transcript kept in memory
        long long ms;
        int connection;
        int kind;
        std::string bytes;
    };

    long long now() const;
    int number(int connection);
    void data(long long ms, int connection, bool sent, const char* bytes, std::size_t size);
    void take(long long ms, int n, bool sent, Stream& stream, const std::string& bytes, bool last);
    void closeStreams(long long ms, int n);
    void write(const std::string& lines);
    void replay(const Event& event);

    Clock::time_point began_;
    Secrets secrets_;
    Sink sink_;
    std::size_t maxBytes_;
    std::size_t longest_ = 0;  // the longest secret
    bool inMemory_ = false;
    mutable std::mutex mutex_;
    std::map<int, int> numbers_;
    std::map<std::pair<int, bool>, Stream> streams_;
    std::size_t kept_ = 0;
    std::size_t dropped_ = 0;
    bool finished_ = false;
    std::vector<Event> events_;  // in memory only
    std::size_t eventBytes_ = 0, overflow_ = 0;
};

// The bytes a transcript's escaped text stands for.
std::string unescapeTranscript(const std::string& text);

}  // namespace vornix
