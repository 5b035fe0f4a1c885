#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

namespace vornix {

// The one process-wide text that router output accumulates in. Collectors
// hand over what each receive brought, stamped with the moment the receive
// returned; each chunk becomes visible 50 ms after it arrived, and always in
// arrival order, whichever collector took it. Procedures clear and search;
// every operation is atomic, and the text never holds a NUL.
class ResponseCapture {
public:
    using Clock = std::chrono::steady_clock;
    using Now = Clock::time_point (*)();
    static constexpr std::chrono::milliseconds visibleAfter{50};

    static ResponseCapture& instance();
    // Tests give a clock of their own.
    explicit ResponseCapture(Now now = &Clock::now) : now_(now) {}
    ResponseCapture(const ResponseCapture&) = delete;
    ResponseCapture& operator=(const ResponseCapture&) = delete;

    // A receive's bytes up to the first NUL among them, at most size bytes.
    // Calls come in the order the receives returned.
    void received(const char* bytes, std::size_t size, Clock::time_point at);
    // A command about to go to the router: the next clear keeps what arrives
    // from this moment on, except the command's own echo.
    void sent(const std::string& command, Clock::time_point at);
    // Removes every chunk received before the latest command was sent,
    // visible or still in its 50 ms, and that command's echo; the answer to
    // the command stays and shows at arrival + 50 ms. Without any command
    // sent, everything received so far goes.
    void clear();
    // Removes every chunk received before mark, visible or not, and nothing
    // after it: the login keeps the banner that came before its user name.
    void clearBefore(Clock::time_point mark);

    // Index of the first occurrence at or after start, or -1 (also when
    // start lies beyond the end; below 0 counts as 0). Case-sensitive.
    long find(const std::string& text, long start = 0) const;
    std::string text() const;

    // What came back since the latest command, as far as it is visible,
    // the command's echo left out. quiet: nothing received since is still
    // in its 50 ms. echoArriving: only part of the echo came so far.
    struct Answer {
        std::string text;
        bool quiet = true;
        bool echoArriving = false;
    };
    Answer answer() const;

    // Everything that arrived since a moment, visible yet or not, and the
    // commands sent since; a clear takes none of it. Kept, at most
    // ledgerLimit bytes of it, until forget() passes it: the prompt pacing
    // counts the prompts owed since the router was last idle.
    static constexpr std::size_t ledgerLimit = 1 << 20;
    struct Since {
        std::string text;
        int sends = 0;
        bool quiet = true;  // nothing of it is still in its 50 ms
    };
    Since since(Clock::time_point mark) const;
    void forget(Clock::time_point mark);
    Clock::time_point now() const { return now_(); }
    // When the latest command went out (the epoch when none did).
    Clock::time_point lastSent() const;
    // The latest command sent, as it went.
    std::string latestCommand() const;
    // The text with what arrived and is still in its 50 ms: once nothing
    // more can arrive, what the text will be.
    std::string arrivedText() const;
    // find() over arrivedText().
    long findArrived(const std::string& text) const;
    // Waits until done() holds, checking it again whenever something
    // arrives or becomes visible, but not past deadline. True when it held.
    bool waitUntil(const std::function<bool()>& done, Clock::time_point deadline);
    // Something else a waiter may be waiting for has happened.
    void wake();

private:
    struct Chunk {
        Clock::time_point at;
        std::string bytes;
    };
    struct Visible {
        Clock::time_point at;
        std::size_t offset;  // where the chunk begins in text_
    };

    // Moves the chunks that are due into the text; the lock is held.
    void settle() const;
    // Drops count bytes from the front of what is kept, visible text first.
    void dropFront(std::size_t count);
    // Drops what arrived before since; the lock is held.
    void dropBefore(Clock::time_point since);

    Now now_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    unsigned long long generation_ = 0;  // counts arrivals and wakes
    std::string latestCommand_;          // kept for answer(); a clear takes lastCommand_
    mutable std::string text_;
    mutable std::deque<Visible> visible_;
    mutable std::deque<Chunk> pending_;
    std::deque<Chunk> ledger_;
    std::size_t ledgerBytes_ = 0;
    std::deque<Clock::time_point> sends_;
    bool anySent_ = false;
    Clock::time_point lastSent_{};
    std::string lastCommand_;
};

}  // namespace vornix
