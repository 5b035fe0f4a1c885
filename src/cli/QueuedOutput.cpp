#include "cli/QueuedOutput.h"

namespace vornix {

QueuedOutput::QueuedOutput(std::FILE* out, std::size_t maxBytes)
    : out_(out), maxBytes_(maxBytes), writer_([this] { drain(); }) {}

QueuedOutput::~QueuedOutput() {
    finish();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ending_ = true;
    }
    changed_.notify_all();
    writer_.join();
}

void QueuedOutput::write(std::string text) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (queued_ + text.size() > maxBytes_) {
            ++dropped_;
            return;
        }
        queued_ += text.size();
        queue_.push_back(std::move(text));
    }
    changed_.notify_all();
}

std::size_t QueuedOutput::finish() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return queue_.empty() && !writing_; });
    return dropped_;
}

void QueuedOutput::drain() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return ending_ || !queue_.empty(); });
        if (queue_.empty()) return;
        std::string text = std::move(queue_.front());
        queue_.pop_front();
        writing_ = true;
        lock.unlock();
        // The only place that waits for the stream.
        std::fwrite(text.data(), 1, text.size(), out_);
        std::fflush(out_);
        lock.lock();
        queued_ -= text.size();
        writing_ = false;
        changed_.notify_all();
    }
}

}  // namespace vornix
