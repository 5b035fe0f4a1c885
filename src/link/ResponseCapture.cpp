#include "link/ResponseCapture.h"

#include <algorithm>
#include <cstring>

namespace vornix {

namespace {

// A command as its echo starts: without the line end, which routers echo in
// more than one way.
std::string echoOf(const std::string& command) {
    std::size_t end = command.size();
    while (end > 0 && (command[end - 1] == '\r' || command[end - 1] == '\n')) --end;
    return command.substr(0, end);
}

}  // namespace

ResponseCapture& ResponseCapture::instance() {
    // Never destroyed: collectors may still be handing over while the process ends.
    static ResponseCapture* capture = new ResponseCapture;
    return *capture;
}

void ResponseCapture::received(const char* bytes, std::size_t size, Clock::time_point at) {
    const void* nul = std::memchr(bytes, '\0', size);
    const std::size_t length = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - bytes) : size;
    if (length == 0) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // Arrival order is the order of the calls: stamps never run backwards.
        if (!pending_.empty()) at = std::max(at, pending_.back().at);
        else if (!visible_.empty()) at = std::max(at, visible_.back().at);
        pending_.push_back({at, std::string(bytes, length)});
        ledger_.push_back(pending_.back());
        ledgerBytes_ += length;
        while (ledgerBytes_ > ledgerLimit && ledger_.size() > 1) {
            ledgerBytes_ -= ledger_.front().bytes.size();
            ledger_.pop_front();
        }
        ++generation_;
    }
    changed_.notify_all();
}

void ResponseCapture::wake() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++generation_;
    }
    changed_.notify_all();
}

bool ResponseCapture::waitUntil(const std::function<bool()>& done, Clock::time_point deadline) {
    for (;;) {
        unsigned long long seen;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            settle();
            seen = generation_;
        }
        if (done()) return true;
        std::unique_lock<std::mutex> lock(mutex_);
        const Clock::time_point now = now_();
        if (now >= deadline) return false;
        if (generation_ != seen) continue;  // something came while done() looked
        Clock::time_point next = deadline;
        if (!pending_.empty()) next = std::min(next, pending_.front().at + visibleAfter);
        changed_.wait_until(lock, next, [&] { return generation_ != seen; });
    }
}

ResponseCapture::Answer ResponseCapture::answer() const {
    std::lock_guard<std::mutex> lock(mutex_);
    settle();
    Answer answer;
    const Clock::time_point since = anySent_ ? lastSent_ : Clock::time_point::min();
    for (const Chunk& chunk : pending_)
        if (chunk.at >= since) answer.quiet = false;
    std::size_t first = 0;
    while (first < visible_.size() && visible_[first].at < since) ++first;
    if (first < visible_.size()) answer.text = text_.substr(visible_[first].offset);
    const std::string echo = echoOf(latestCommand_);
    if (echo.empty()) return answer;
    if (answer.text.compare(0, echo.size(), echo) == 0) {
        std::size_t length = echo.size();
        while (length < answer.text.size() && (answer.text[length] == '\r' || answer.text[length] == '\n')) ++length;
        answer.text.erase(0, length);
    } else if (answer.text.size() < echo.size() && echo.compare(0, answer.text.size(), answer.text) == 0) {
        answer.echoArriving = true;
        answer.text.clear();
    }
    return answer;
}

ResponseCapture::Since ResponseCapture::since(Clock::time_point mark) const {
    std::lock_guard<std::mutex> lock(mutex_);
    Since since;
    const Clock::time_point now = now_();
    for (const Chunk& chunk : ledger_) {
        if (chunk.at < mark) continue;
        since.text += chunk.bytes;
        if (chunk.at + visibleAfter > now) since.quiet = false;
    }
    for (const Clock::time_point at : sends_)
        if (at >= mark) ++since.sends;
    return since;
}

void ResponseCapture::forget(Clock::time_point mark) {
    std::lock_guard<std::mutex> lock(mutex_);
    while (!ledger_.empty() && ledger_.front().at < mark) {
        ledgerBytes_ -= ledger_.front().bytes.size();
        ledger_.pop_front();
    }
    while (!sends_.empty() && sends_.front() < mark) sends_.pop_front();
}

ResponseCapture::Clock::time_point ResponseCapture::lastSent() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastSent_;
}

std::string ResponseCapture::latestCommand() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return latestCommand_;
}

std::string ResponseCapture::arrivedText() const {
    std::lock_guard<std::mutex> lock(mutex_);
    settle();
    std::string text = text_;
    for (const Chunk& chunk : pending_) text += chunk.bytes;
    return text;
}

long ResponseCapture::findArrived(const std::string& text) const {
    const std::size_t at = arrivedText().find(text);
    return at == std::string::npos ? -1 : static_cast<long>(at);
}

void ResponseCapture::sent(const std::string& command, Clock::time_point at) {
    std::lock_guard<std::mutex> lock(mutex_);
    sends_.push_back(at);
    if (sends_.size() > 4096) sends_.pop_front();
    anySent_ = true;
    lastSent_ = at;
    lastCommand_ = command.substr(0, command.find('\0'));
    latestCommand_ = lastCommand_;
}

void ResponseCapture::settle() const {
    const Clock::time_point now = now_();
    while (!pending_.empty() && pending_.front().at + visibleAfter <= now) {
        visible_.push_back({pending_.front().at, text_.size()});
        text_ += pending_.front().bytes;
        pending_.pop_front();
    }
}

void ResponseCapture::dropFront(std::size_t count) {
    const std::size_t fromText = std::min(count, text_.size());
    if (fromText > 0) {
        const std::size_t oldSize = text_.size();
        text_.erase(0, fromText);
        std::deque<Visible> kept;
        for (std::size_t i = 0; i < visible_.size(); ++i) {
            const std::size_t end = i + 1 < visible_.size() ? visible_[i + 1].offset : oldSize;
            if (end <= fromText) continue;  // wholly dropped
            kept.push_back({visible_[i].at, visible_[i].offset > fromText ? visible_[i].offset - fromText : 0});
        }
        visible_.swap(kept);
        count -= fromText;
    }
    while (count > 0 && !pending_.empty()) {
        Chunk& chunk = pending_.front();
        if (chunk.bytes.size() <= count) {
            count -= chunk.bytes.size();
            pending_.pop_front();
        } else {
            chunk.bytes.erase(0, count);
            count = 0;
        }
    }
}

void ResponseCapture::dropBefore(Clock::time_point since) {
    // Chunks are in arrival order: what came before the moment is a prefix.
    std::size_t firstKept = 0;
    while (firstKept < visible_.size() && visible_[firstKept].at < since) ++firstKept;
    if (firstKept == visible_.size()) {
        text_.clear();
        visible_.clear();
        while (!pending_.empty() && pending_.front().at < since) pending_.pop_front();
    } else {
        dropFront(visible_[firstKept].offset);
    }
}

void ResponseCapture::clearBefore(Clock::time_point mark) {
    std::lock_guard<std::mutex> lock(mutex_);
    settle();
    dropBefore(mark);
    lastCommand_.clear();
}

void ResponseCapture::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    settle();
    dropBefore(anySent_ ? lastSent_ : now_());

    // The command's echo was never part of the answer: a router that echoes
    // would otherwise have the command's own words found in its output.
    const std::string echo = echoOf(lastCommand_);
    lastCommand_.clear();
    if (echo.empty()) return;
    std::string head = text_.substr(0, echo.size() + 2);
    for (std::size_t i = 0; i < pending_.size() && head.size() < echo.size() + 2; ++i) head += pending_[i].bytes;
    head = head.substr(0, echo.size() + 2);
    if (head.compare(0, echo.size(), echo) == 0) {
        std::size_t length = echo.size();
        while (length < head.size() && (head[length] == '\r' || head[length] == '\n')) ++length;
        dropFront(length);
    } else if (!head.empty() && head.size() < echo.size() && echo.compare(0, head.size(), head) == 0) {
        dropFront(head.size());  // the echo is still arriving: what came of it goes
    }
}

long ResponseCapture::find(const std::string& text, long start) const {
    std::lock_guard<std::mutex> lock(mutex_);
    settle();
    if (start < 0) start = 0;
    if (static_cast<std::size_t>(start) > text_.size()) return -1;
    const std::size_t at = text_.find(text, static_cast<std::size_t>(start));
    return at == std::string::npos ? -1 : static_cast<long>(at);
}

std::string ResponseCapture::text() const {
    std::lock_guard<std::mutex> lock(mutex_);
    settle();
    return text_;
}

}  // namespace vornix
