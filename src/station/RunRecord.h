#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "station/OperatorConsole.h"

namespace vornix {

// What a run leaves for its journal record: filled by the station as the
// run goes (its log, its times) and by the stages (what they wrote, read and
// found). Any thread may note; the station reads a copy when the run is over.
class RunRecord {
public:
    struct MacName {
        std::string name, written, readBack;
    };
    struct Data {
        std::string runId;
        std::chrono::system_clock::time_point started, ended;
        std::string router;
        std::vector<std::string> log;
        std::string failure[3];  // each stage's failure line
        std::string startMacBefore, startMacAfter;
        std::vector<MacName> macs;
        std::vector<std::pair<std::string, std::string>> environment;
        std::string bootExpected, bootFound;
        std::string firmwareVariant;
    };

    explicit RunRecord(Data start) : data_(std::move(start)) {}

    void logLine(const std::string& line) { with([&](Data& d) { d.log.push_back(line); }); }
    void clearLog() { with([](Data& d) { d.log.clear(); }); }
    void stageFailed(Stage stage, const std::string& line) {
        with([&](Data& d) { d.failure[static_cast<int>(stage)] = line; });
    }
    void macBlock(const std::string& before, const std::string& after) {
        with([&](Data& d) {
            if (!before.empty()) d.startMacBefore = before;
            if (!after.empty()) d.startMacAfter = after;
        });
    }
    void macWritten(const std::string& name, const std::string& address) {
        with([&](Data& d) { d.macs.push_back({name, address, ""}); });
    }
    // The address read back for the first written name that has none yet.
    void macReadBack(const std::string& name, const std::string& found) {
        with([&](Data& d) {
            for (MacName& mac : d.macs)
                if (mac.name == name && mac.readBack.empty()) {
                    mac.readBack = found;
                    return;
                }
        });
    }
    void environmentWritten(const std::string& name, const std::string& value) {
        with([&](Data& d) { d.environment.emplace_back(name, value); });
    }
    void bootVersions(const std::string& expected, const std::string& found) {
        with([&](Data& d) {
            d.bootExpected = expected;
            d.bootFound = found;
        });
    }
    void firmwareVariant(const std::string& variant) { with([&](Data& d) { d.firmwareVariant = variant; }); }
    void ended() { with([](Data& d) { d.ended = std::chrono::system_clock::now(); }); }

    Data data() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return data_;
    }

private:
    template <typename Change>
    void with(Change change) {
        std::lock_guard<std::mutex> lock(mutex_);
        change(data_);
    }
    mutable std::mutex mutex_;
    Data data_;
};

}  // namespace vornix
