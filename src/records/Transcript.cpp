#include "records/Transcript.h"

#include <cstdio>

namespace vornix {

int Transcript::number(int connection) {
    const auto known = numbers_.find(connection);
    if (known != numbers_.end()) return known->second;
    const int next = static_cast<int>(numbers_.size()) + 1;
    numbers_[connection] = next;
    return next;
}

void Transcript::record(int connection, Kind kind, const char* bytes, std::size_t size) {
    const long long ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - began_).count();
    std::lock_guard<std::mutex> lock(mutex_);
    const int n = number(connection);
    if (kind == Kind::Sent || kind == Kind::Received) {
        if (kept_ >= maxBytes_) {
            dropped_ += size;
            return;
        }
        const std::size_t keep = std::min(size, maxBytes_ - kept_);
        dropped_ += size - keep;
        kept_ += keep;
        std::string& stream = streams_[{n, kind}];
        events_.push_back({ms, n, kind, std::string(bytes, keep), stream.size()});
        stream.append(bytes, keep);
        return;
    }
    events_.push_back({ms, n, kind, std::string(bytes, size), 0});
}

void Transcript::opened(int connection, const std::string& host, int port, bool connected) {
    const std::string what = (connected ? "connected to " : "could not connect to ") + host + ":" + std::to_string(port);
    record(connection, Kind::Opened, what.data(), what.size());
}

void Transcript::sent(int connection, const char* bytes, std::size_t size) { record(connection, Kind::Sent, bytes, size); }

void Transcript::received(int connection, const char* bytes, std::size_t size) {
    record(connection, Kind::Received, bytes, size);
}

void Transcript::closed(int connection) { record(connection, Kind::Closed, "closed", 6); }

namespace {

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

}  // namespace

std::string Transcript::text(const Secrets& secrets) const {
    std::lock_guard<std::mutex> lock(mutex_);
    // Secrets are found in each connection's whole stream, one way: a
    // password split between two receives is masked all the same.
    std::map<std::pair<int, Kind>, std::vector<bool>> hidden;
    for (const auto& [key, stream] : streams_) hidden[key] = secrets.covered(stream);

    std::string out;
    for (const Event& event : events_) {
        char head[48];
        std::snprintf(head, sizeof head, "[%8lld ms] #%d ", event.ms, event.connection);
        if (event.kind == Kind::Opened || event.kind == Kind::Closed) {
            out += head;
            out += secrets.mask(event.bytes);
            out += '\n';
            continue;
        }
        const std::vector<bool>& mask = hidden.at({event.connection, event.kind});
        const char* arrow = event.kind == Kind::Sent ? "-> " : "<- ";
        std::string line;
        bool masking = false;
        for (std::size_t i = 0; i < event.bytes.size(); ++i) {
            const unsigned char c = static_cast<unsigned char>(event.bytes[i]);
            if (mask[event.offset + i]) {
                if (!masking) line += "***";
                masking = true;
            } else {
                masking = false;
                escape(line, c);
            }
            // One line of the file per line of data, for a text editor.
            if (c == '\n' || i + 1 == event.bytes.size()) {
                out += head;
                out += arrow;
                out += line;
                out += '\n';
                line.clear();
            }
        }
    }
    if (dropped_ > 0)
        out += "[ transcript full: " + std::to_string(dropped_) + " more bytes were not recorded ]\n";
    return out;
}

}  // namespace vornix
