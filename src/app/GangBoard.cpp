#include "app/GangBoard.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "app/HeadlessConsole.h"
#include "procedures/MacBlock.h"

namespace vornix {

namespace {

// The MAC stage logs each address it writes as: Writing NAME = "ADDRESS".
bool macWritten(const std::string& line, std::string& address) {
    static const std::string writing = "Writing ", equals = " = \"";
    if (line.compare(0, writing.size(), writing) != 0 || line.size() < 2 || line.back() != '"') return false;
    const std::size_t at = line.find(equals, writing.size());
    if (at == std::string::npos) return false;
    const std::string value = line.substr(at + equals.size(), line.size() - at - equals.size() - 1);
    // An environment line may look alike; the addresses written are start_mac's form.
    if (!isMacText(value)) return false;
    address = value;
    return true;
}

// Empty lines and rules of dashes frame the stages' lines and say nothing.
bool saysSomething(const std::string& line) {
    return line.find_first_not_of("- \t\r\n") != std::string::npos;
}

}  // namespace

GangBoard::GangBoard(const std::vector<Gang::Port>& ports) {
    for (const Gang::Port& port : ports) {
        Port entry;
        entry.tile.number = port.port.number;
        entry.tile.interfaceName = port.port.interfaceName;
        if (!port.problem.empty()) {
            entry.tile.state = State::NotRun;
            entry.tile.lastLine = Gang::problemLine(port);
        }
        ports_.push_back(std::move(entry));
    }
}

void GangBoard::reset(const std::vector<Gang::Port>& ports) {
    GangBoard fresh(ports);
    std::lock_guard<std::mutex> lock(mutex_);
    ports_ = std::move(fresh.ports_);
}

GangBoard::Port* GangBoard::find(int port) {
    for (Port& entry : ports_)
        if (entry.tile.number == port) return &entry;
    return nullptr;
}

const GangBoard::Port* GangBoard::find(int port) const { return const_cast<GangBoard*>(this)->find(port); }

void GangBoard::start(bool macWriting, bool bootUpdate, Clock::time_point now) {
    std::lock_guard<std::mutex> lock(mutex_);
    macWriting_ = macWriting;
    bootUpdate_ = bootUpdate;
    for (Port& entry : ports_) {
        if (entry.tile.state == State::NotRun) continue;
        entry.log.clear();
        entry.dropped = 0;
        Tile& tile = entry.tile;
        tile.state = State::Running;
        tile.stage = "checking the router";
        tile.firstMac.clear();
        tile.lastLine.clear();
        tile.started = tile.ended = now;
        tile.timed = true;
    }
}

void GangBoard::line(int port, const std::string& text) {
    const std::string exact = HeadlessConsole::logLineOf(text);
    std::lock_guard<std::mutex> lock(mutex_);
    Port* entry = find(port);
    if (!entry) return;
    if (entry->log.size() < maxLogLines) entry->log.push_back(exact);
    else ++entry->dropped;
    Tile& tile = entry->tile;
    std::string address;
    if (tile.firstMac.empty() && macWritten(exact, address)) tile.firstMac = address;
    if (tile.state == State::Running) {
        if (exact.compare(0, 6, "Found ") == 0)
            tile.stage = macWriting_ ? "MAC Writing" : bootUpdate_ ? "BOOT Code Update" : "router found";
        else if (exact == "-----Boot Update-----")
            tile.stage = "BOOT Code Update";
    }
    if (saysSomething(exact)) tile.lastLine = exact;
}

void GangBoard::ended(int port, Gang::Result result, Clock::time_point now) {
    std::lock_guard<std::mutex> lock(mutex_);
    Port* entry = find(port);
    if (!entry) return;
    if (entry->dropped > 0) {
        entry->log.push_back("(" + std::to_string(entry->dropped) + " more lines: the whole log is in the port's transcript)");
        entry->dropped = 0;
    }
    Tile& tile = entry->tile;
    // A run found killed after it ended keeps its first end's time.
    if (tile.state == State::Running) tile.ended = now;
    switch (result) {
        case Gang::Result::Passed: tile.state = State::Passed; break;
        case Gang::Result::Failed: tile.state = State::Failed; break;
        case Gang::Result::NoRouter: tile.state = State::NoRouter; break;
        case Gang::Result::Interrupted: tile.state = State::Interrupted; break;
        case Gang::Result::NotRun: tile.state = State::NotRun; break;
    }
}

std::vector<GangBoard::Tile> GangBoard::tiles() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Tile> tiles;
    for (const Port& entry : ports_) tiles.push_back(entry.tile);
    return tiles;
}

std::vector<std::string> GangBoard::log(int port, std::size_t from) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const Port* entry = find(port);
    if (!entry || from >= entry->log.size()) return {};
    return std::vector<std::string>(entry->log.begin() + static_cast<std::ptrdiff_t>(from), entry->log.end());
}

std::vector<int> GangBoard::busy() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<int> ports;
    for (const Port& entry : ports_)
        if (entry.tile.state == State::Running) ports.push_back(entry.tile.number);
    return ports;
}

std::string GangBoard::stateText(const Tile& tile) {
    switch (tile.state) {
        case State::Idle: return "IDLE";
        case State::NotRun: return "NOT RUN";
        case State::Running: return "RUNNING";
        case State::Passed: return "PASSED";
        case State::Failed: return "FAILED";
        case State::NoRouter: return "NO ROUTER";
        case State::Interrupted: return "INTERRUPTED";
    }
    return "";
}

std::string GangBoard::elapsedText(const Tile& tile, Clock::time_point now) {
    if (!tile.timed) return "";
    const Clock::time_point end = tile.state == State::Running ? now : tile.ended;
    const long long seconds =
        std::max<long long>(0, std::chrono::duration_cast<std::chrono::seconds>(end - tile.started).count());
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld", seconds / 60, seconds % 60);
    return text;
}

std::string GangBoard::busyText(const std::vector<int>& ports) {
    if (ports.empty()) return "";
    if (ports.size() == 1) return "Port " + std::to_string(ports[0]) + " is";
    std::string text = "Ports ";
    for (std::size_t i = 0; i < ports.size(); ++i) {
        if (i > 0) text += i + 1 == ports.size() ? " and " : ", ";
        text += std::to_string(ports[i]);
    }
    return text + " are";
}

}  // namespace vornix
