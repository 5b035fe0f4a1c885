#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "records/LineClient.h"
#include "station/MacBlockSource.h"

namespace vornix {

// The block from the line's database: this router's block is reserved from
// the pool for this run alone, in a transaction no other station can win at
// the same time, and becomes this router's assignment once the whole stage
// verified. A block this run leaves unassigned is released when it ends: one
// it never wrote to the router goes to the station's next run, one it wrote
// is spent (the router that may hold it could be set aside). A run for a
// unit writes the unit's own block, bound to it by its first run: never
// spent, whatever its runs do, and never another router's.
class LineBlockSource : public MacBlockSource {
public:
    // Longer than any MAC stage runs: a block whose holder vanished without
    // a trace (a station cut off the line) goes back after it.
    static constexpr int leaseSeconds = 3600;

    struct Settings {
        std::string database;  // the ODBC connection string
        std::string pool;
        std::string station;
        std::string router;    // the router's address, for the assignment
        std::string runId;     // the run's journal record: the block's holder
        int timeoutSeconds = 10;
        std::string serial = std::string();  // the unit's the run is for, or empty
        // A station that numbers its units: the serial of the line's number
        // for serialFormat (a counter that starts at serialStart), or the
        // stage's failure line. Asked when the board holds no serial.
        std::function<std::string(long long number, std::string& serial)> numberSerial = nullptr;
        std::string serialFormat = std::string();
        long long serialStart = 1;
    };
    explicit LineBlockSource(Settings settings);
    // Releases a block reserved and not assigned.
    ~LineBlockSource() override;

    // A serial read from the router (the settings' is empty then).
    void unitIs(const std::string& serial) override {
        if (!serial.empty()) settings_.serial = serial;
    }
    Reserved reserve(int count) override;
    std::string routerHolds(const std::vector<std::string>& addresses) override;
    std::string commit(const std::string& startMac, int count, const std::string& next) override;
    std::string stillHeld() override;
    std::string stageVerified() override;
    std::string writing() override;
    bool spentAtEnd() const override { return held_ && written_ && settings_.serial.empty(); }

private:
    Settings settings_;
    LineClient client_;
    Reservation reservation_;
    bool numbered_ = false;    // the serial is the line's number, just taken
    bool held_ = false;        // reserved, not yet assigned
    bool written_ = false;     // marked as written to the router
    bool reachable_ = true;    // the last call got an answer
    std::chrono::steady_clock::time_point asked_;  // before the reservation was asked for
};

}  // namespace vornix
