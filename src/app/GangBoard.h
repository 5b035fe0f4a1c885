#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "app/Gang.h"

namespace vornix {

// What the gang window shows of each port, kept from the gang's events: the
// state, the stage running, the first MAC address written, the time taken,
// the last line that says something, and the port's whole run log. Events
// come from the gang's reader threads; the window reads copies.
class GangBoard {
public:
    using Clock = std::chrono::steady_clock;
    enum class State { Idle, NotRun, Running, Passed, Failed, NoRouter, Interrupted };

    struct Tile {
        int number = 0;
        std::string interfaceName;
        State state = State::Idle;
        std::string stage;     // what the port is doing, or last did
        std::string firstMac;  // the first MAC address written, once logged
        // The last line that says something (not empty, not a rule of
        // dashes); a failed port's failure line.
        std::string lastLine;
        Clock::time_point started, ended;
        bool timed = false;  // started is set
    };

    explicit GangBoard(const std::vector<Gang::Port>& ports);
    // The gang as setup.ini gives it now (read again at every Start): every
    // tile afresh, a port that cannot run not run.
    void reset(const std::vector<Gang::Port>& ports);

    // A Start press: every port that can run is running, its log empty.
    void start(bool macWriting, bool bootUpdate, Clock::time_point now);
    // A port's log line as its process wrote it (a line break inside it as
    // the two characters "\r" or "\n").
    void line(int port, const std::string& text);
    void ended(int port, Gang::Result result, Clock::time_point now);

    std::vector<Tile> tiles() const;
    // Lines from index on of the port's run log, exactly as its run logged them.
    std::vector<std::string> log(int port, std::size_t from = 0) const;
    // The numbers of the ports still running.
    std::vector<int> busy() const;

    // The state as a word: "RUNNING", "PASSED".
    static std::string stateText(const Tile& tile);
    // m:ss since the start, to the end once ended; empty before any start.
    static std::string elapsedText(const Tile& tile, Clock::time_point now);
    // The operator's question when leaving while ports run: "Ports 1, 2 and 4 are".
    static std::string busyText(const std::vector<int>& ports);

    // A port keeps at most this many log lines (the rest are counted in
    // one last line): a run logs a few hundred.
    static constexpr std::size_t maxLogLines = 20000;

private:
    struct Port {
        Tile tile;
        std::vector<std::string> log;
        std::size_t dropped = 0;
    };
    Port* find(int port);
    const Port* find(int port) const;

    mutable std::mutex mutex_;
    std::vector<Port> ports_;
    bool macWriting_ = false, bootUpdate_ = false;
};

}  // namespace vornix
