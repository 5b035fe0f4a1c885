#include "records/Transcript.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "station/RunRecord.h"

namespace vornix {

namespace {

enum Kind { Opened, Sent, Received, Closed, Noted };

constexpr std::size_t none = static_cast<std::size_t>(-1);
// What a transcript in memory keeps past its cap: enough for the longest
// secret a setup.ini holds to be decided.
constexpr std::size_t memorySlack = 64 * 1024;

void escape(std::string& out, unsigned char c) {
    switch (c) {
    case '\r': out += "\\r"; break;
    case '\n': out += "\\n"; break;
    case '\t': out += "\\t"; break;
    case '\\': out += "\\\\"; break;
    default:
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
}

std::string escaped(const std::string& text) {
    std::string out;
    for (unsigned char c : text) escape(out, c);
    return out;
}

std::string head(long long ms) {
    char text[32];
    std::snprintf(text, sizeof text, "[%8lld ms] ", ms);
    return text;
}

}  // namespace

Transcript::Transcript(Clock::time_point began, Secrets secrets, Sink sink, std::size_t maxBytes)
    : began_(began), secrets_(std::move(secrets)), sink_(std::move(sink)), maxBytes_(maxBytes) {}

Transcript::Transcript(Clock::time_point began, std::size_t maxBytes)
    : began_(began), maxBytes_(maxBytes), inMemory_(true) {}

long long Transcript::now() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - began_).count();
}

int Transcript::number(int connection) {
    const auto known = numbers_.find(connection);
    if (known != numbers_.end()) return known->second;
    const int next = static_cast<int>(numbers_.size()) + 1;
    numbers_[connection] = next;
    return next;
}

void Transcript::write(const std::string& lines) {
    if (sink_ && !lines.empty()) sink_(lines);
}

void Transcript::opened(int connection, const std::string& host, int port, bool connected) {
    const std::string what = (connected ? "connected to " : "could not connect to ") + host + ":" + std::to_string(port);
    replay({now(), connection, Opened, what});
}

void Transcript::sent(int connection, const char* bytes, std::size_t size) {
    data(now(), connection, true, bytes, size);
}

void Transcript::received(int connection, const char* bytes, std::size_t size) {
    data(now(), connection, false, bytes, size);
}

void Transcript::closed(int connection) { replay({now(), connection, Closed, "closed"}); }

void Transcript::note(const std::string& text) { replay({now(), 0, Noted, text}); }

void Transcript::replay(const Event& event) {
    if (event.kind == Sent || event.kind == Received) {
        data(event.ms, event.connection, event.kind == Sent, event.bytes.data(), event.bytes.size());
        return;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (finished_) return;
    if (inMemory_) {
        events_.push_back(event);
        return;
    }
    if (event.kind == Noted) {
        // A note as long as a log line may be one cut short inside a secret.
        write(head(event.ms) + escaped(secrets_.mask(event.bytes, event.bytes.size() >= maxLogLineLength)) + "\n");
        return;
    }
    const int n = number(event.connection);
    // What was held back of the connection goes out before its close.
    if (event.kind == Closed) closeStreams(event.ms, n);
    write(head(event.ms) + "#" + std::to_string(n) + " " + escaped(secrets_.mask(event.bytes)) + "\n");
}

void Transcript::data(long long ms, int connection, bool sent, const char* bytes, std::size_t size) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (finished_) return;
    if (inMemory_) {
        const std::size_t room = maxBytes_ + memorySlack - std::min(eventBytes_, maxBytes_ + memorySlack);
        const std::size_t keep = std::min(size, room);
        events_.push_back({ms, connection, sent ? Sent : Received, std::string(bytes, keep)});
        eventBytes_ += keep;
        overflow_ += size - keep;
        return;
    }
    const int n = number(connection);
    const std::size_t keep = kept_ >= maxBytes_ ? 0 : std::min(size, maxBytes_ - kept_);
    kept_ += keep;
    dropped_ += size - keep;
    Stream& stream = streams_[{n, sent}];
    if (keep < size && stream.limit == none) stream.limit = stream.offset + stream.held.size() + keep;
    // Past the cap the bytes are still read, until they tell whether what
    // was held back before it is a secret's.
    if (stream.offset >= stream.limit) return;
    take(ms, n, sent, stream, std::string(bytes, size), false);
}

void Transcript::take(long long ms, int n, bool sent, Stream& stream, const std::string& bytes, bool last) {
    const std::string all = stream.held + bytes;
    // A stream that ends with the start of a secret ends inside it, as far
    // as anyone can tell: that start is hidden too.
    std::vector<bool> hidden = secrets_.covered(all, last);
    for (std::size_t i = 0; i < stream.heldHidden.size(); ++i) hidden[i] = hidden[i] || stream.heldHidden[i];
    // Every occurrence that covers a byte before `decided` lies wholly in
    // `all`: a longer one would make a longer unfinished end.
    const std::size_t decided = all.size() - (last ? 0 : secrets_.unfinished(all));
    const std::size_t end = stream.limit == none ? decided : std::min(decided, stream.limit - stream.offset);

    const std::string prefix = head(ms) + "#" + std::to_string(n) + (sent ? " -> " : " <- ");
    std::string out, line;
    for (std::size_t i = 0; i < end; ++i) {
        const unsigned char c = static_cast<unsigned char>(all[i]);
        if (hidden[i]) {
            // One "***" for one run of secret bytes, however it was received.
            if (!stream.masking) line += "***";
            stream.masking = true;
        } else {
            stream.masking = false;
            escape(line, c);
        }
        // One line of the file per line of data, for a text editor.
        if (c == '\n' || i + 1 == end) {
            if (!line.empty()) out += prefix + line + "\n";
            line.clear();
        }
    }
    write(out);
    stream.held = all.substr(decided);
    stream.heldHidden.assign(hidden.begin() + static_cast<long>(decided), hidden.end());
    stream.offset += decided;
    if (stream.offset >= stream.limit) {
        stream.held.clear();
        stream.heldHidden.clear();
    }
}

void Transcript::closeStreams(long long ms, int n) {
    for (const bool sent : {true, false}) {
        const auto found = streams_.find({n, sent});
        if (found == streams_.end()) continue;
        Stream& stream = found->second;
        if (!stream.held.empty() && stream.offset < stream.limit) take(ms, n, sent, stream, std::string(), true);
    }
}

void Transcript::finish() {
    const long long ms = now();
    std::lock_guard<std::mutex> lock(mutex_);
    if (finished_) return;
    finished_ = true;
    if (inMemory_) return;
    for (auto& [key, stream] : streams_)
        if (!stream.held.empty() && stream.offset < stream.limit) take(ms, key.first, key.second, stream, std::string(), true);
    if (dropped_ > 0) write("[ transcript full: " + std::to_string(dropped_) + " more bytes were not recorded ]\n");
}

std::string Transcript::text(const Secrets& secrets) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string out;
    Transcript written(began_, secrets, [&out](const std::string& lines) { out += lines; }, maxBytes_);
    for (const Event& event : events_) written.replay(event);
    written.dropped_ += overflow_;
    written.finish();
    return out;
}

std::string unescapeTranscript(const std::string& text) {
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            bytes += text[i];
            continue;
        }
        const char c = text[++i];
        if (c == 'r') bytes += '\r';
        else if (c == 'n') bytes += '\n';
        else if (c == 't') bytes += '\t';
        else if (c == 'x' && i + 2 < text.size()) {
            bytes += static_cast<char>(std::strtol(text.substr(i + 1, 2).c_str(), nullptr, 16));
            i += 2;
        } else bytes += c;
    }
    return bytes;
}

}  // namespace vornix
