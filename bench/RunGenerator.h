#pragma once

// A line's runs for the line view's benchmark: journal records written by
// the journal's own writer, from a seeded random source, so that a figure
// the view shows can be checked against what was generated.
#include <chrono>
#include <random>
#include <string>

namespace bench {

using TimePoint = std::chrono::system_clock::time_point;

struct GeneratedRun {
    std::string id, station, result;  // result: succeeded, failed or interrupted
    TimePoint started, ended;
    int port = 0;             // a gang station's port (1-4), 0 on a one-port station
    long long firstMac = -1;  // the block's first address (blockSize of them), -1 when none was written
    std::string record;       // the journal line, without its line end
};

class RunGenerator {
public:
    static constexpr int blockSize = 4;
    static constexpr int stations = 24;
    // Every fourth station is a gang of gangPorts routers; its port 2 fails
    // twice as often as the others (a worn fixture slot).
    static constexpr int gangPorts = 4;
    static bool gang(int stationIndex) { return stationIndex % 4 == 3; }

    // firstMac: the first run's block; each run that writes addresses takes
    // the next block. assignedOnly: every run's block reached the router
    // verified (as the line database holds them): failures only in the boot
    // and firmware stages, interruptions only after the MAC stage.
    RunGenerator(unsigned seed, long long firstMac, bool assignedOnly = false);

    GeneratedRun next(TimePoint started);

    static std::string stationName(int index);

private:
    std::mt19937_64 random_;
    long long nextMac_;
    bool assignedOnly_;
    long long count_ = 0;
};

// A text as one field of PostgreSQL's COPY ... (FORMAT csv): quoted, quotes doubled.
std::string csvField(const std::string& text);

// "2026-12-09T08:00:00Z": a time as the line database's tables keep it.
std::string wholeSeconds(TimePoint time);

}  // namespace bench
