#pragma once

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace vornix {

// Text for a stream that may stall (a console in selection mode, a pipe
// nobody reads), written by a thread of its own: whoever hands text over
// never waits for the stream. It holds at most maxBytes not yet written;
// text past that is dropped and counted.
class QueuedOutput {
public:
    explicit QueuedOutput(std::FILE* out, std::size_t maxBytes = 16u << 20);
    // Writes what is left first.
    ~QueuedOutput();
    QueuedOutput(const QueuedOutput&) = delete;
    QueuedOutput& operator=(const QueuedOutput&) = delete;

    // Never waits for the stream.
    void write(std::string text);
    // Until everything handed over is written; how many pieces were dropped.
    std::size_t finish();

private:
    void drain();

    std::FILE* out_;
    std::size_t maxBytes_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::string> queue_;
    std::size_t queued_ = 0, dropped_ = 0;
    bool writing_ = false, ending_ = false;
    std::thread writer_;
};

}  // namespace vornix
