#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "station/OperatorConsole.h"

namespace vornix {

// The stages cut a log line to this many characters: a line that long may
// end inside a secret, and its records mask such an end too.
constexpr std::size_t maxLogLineLength = 1023;

// What a run leaves for its journal record: filled by the station as the
// run goes (its log, its times) and by the stages (what they wrote, read and
// found). Any thread may note; the station reads a copy when the run is over.
// A listener hears each note as it is made, for a record that outlives a
// killed process (the transcript).
class RunRecord {
public:
    // what: "log", "log cleared", "mac block", "start_mac after", "mac
    // written", "reused block of", "mac block writing", "mac block taken",
    // "mac block spent", "router hardware", "serial", "label";
    // text: what was noted, as one line of text.
    using Listener = std::function<void(const std::string& what, const std::string& text)>;

    struct MacName {
        std::string name, written, readBack;
    };
    // One label sent (or not) for the run: when, to which printer, and
    // "printed" or why not; reason: an operator's, for a reprint.
    struct Label {
        std::chrono::system_clock::time_point time;
        std::string printer, result, reason;
    };
    struct Data {
        std::string runId;
        std::chrono::system_clock::time_point started, ended;
        std::string router;
        // On a gang station: the port (1-8) the run's router is on and that
        // port's interface; 0 and empty on a one-port station.
        int port = 0;
        std::string interfaceName;
        std::vector<std::string> log;
        std::string failure[3];  // each stage's failure line
        std::string startMacBefore, startMacAfter;
        std::vector<MacName> macs;
        std::vector<std::pair<std::string, std::string>> environment;
        std::string bootExpected, bootFound;
        // The boot image's bytes on the station's FTP server and on the
        // router after its download; -1 until both are known.
        long long bootImageBytes = -1, bootArrivedBytes = -1;
        std::string firmwareVariant;
        std::string reusedBlockOf;  // the unfinished run whose block this run wrote again
        int blockCount = 0;         // the MAC block's size, when told
        bool blockWriting = false;  // the block's first write was about to go out
        bool blockTaken = false;    // start_mac was moved past the block when it was reserved
        // The block this run wrote and never made its router's: never handed
        // out again. Its first address, or empty.
        std::string spentFirst;
        int spentCount = 0;
        std::string interruption;  // why an interrupted run's record is incomplete, or empty
        // The router's hardware address, as the neighbour table of the
        // run's port (or the station's) held it once connected; empty when unknown.
        std::string routerHardware;
        // The unit's serial, on a station with serials; else empty.
        std::string serial;
        std::vector<Label> labels;
    };

    explicit RunRecord(Data start) : data_(std::move(start)) {}

    // Set before any thread of the run exists; called under the record's
    // lock, so notes are heard in the order they were made.
    void listen(Listener listener) { listener_ = std::move(listener); }

    void logLine(const std::string& line) {
        with([&](Data& d) { d.log.push_back(line); }, "log", line);
    }
    void clearLog() {
        with([](Data& d) { d.log.clear(); }, "log cleared", "");
    }
    void stageFailed(Stage stage, const std::string& line) {
        with([&](Data& d) { d.failure[static_cast<int>(stage)] = line; });
    }
    // count: the block's size, when the caller knows it (0: not told).
    void macBlock(const std::string& before, const std::string& after, int count = 0) {
        if (!before.empty())
            with([&](Data& d) {
                d.startMacBefore = before;
                if (count > 0) d.blockCount = count;
            }, "mac block",
                 count > 0 ? before + " count " + std::to_string(count) : before);
        if (!after.empty()) with([&](Data& d) { d.startMacAfter = after; }, "start_mac after", after);
    }
    void macWritten(const std::string& name, const std::string& address) {
        with([&](Data& d) { d.macs.push_back({name, address, ""}); }, "mac written", name + " " + address);
    }
    // Said before the first byte of the first write goes to the router: a
    // killed run's record without it wrote nothing.
    void blockWriting() {
        with([](Data& d) { d.blockWriting = true; }, "mac block writing", "");
    }
    // start_mac was moved past the block as it was reserved: a killed run's
    // block is spent, never handed out again.
    void blockTaken() {
        with([](Data& d) { d.blockTaken = true; }, "mac block taken", "");
    }
    // The block (first address, size) may be on this run's router and will
    // never be handed out again.
    void blockSpent(const std::string& first, int count) {
        with([&](Data& d) {
            d.spentFirst = first;
            d.spentCount = count;
        }, "mac block spent", first + " count " + std::to_string(count));
    }
    // This run writes again the block of a run that never finished.
    void blockReused(const std::string& unfinishedRunId) {
        with([&](Data& d) { d.reusedBlockOf = unfinishedRunId; }, "reused block of", unfinishedRunId);
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
    // The unit's serial, when it is known only once the run has read the
    // router (or the station numbered it).
    void serial(const std::string& serial) {
        with([&](Data& d) { d.serial = serial; }, "serial", serial);
    }
    void label(const Label& label) {
        with([&](Data& d) { d.labels.push_back(label); }, "label",
             label.printer + " " + label.result + (label.reason.empty() ? "" : " (" + label.reason + ")"));
    }
    void routerHardware(const std::string& address) {
        with([&](Data& d) { d.routerHardware = address; }, "router hardware", address);
    }
    void bootImage(unsigned long long served, unsigned long long arrived) {
        with([&](Data& d) {
            d.bootImageBytes = static_cast<long long>(served);
            d.bootArrivedBytes = static_cast<long long>(arrived);
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
    void with(Change change, const char* what = nullptr, const std::string& text = std::string()) {
        std::lock_guard<std::mutex> lock(mutex_);
        change(data_);
        if (what && listener_) listener_(what, text);
    }
    mutable std::mutex mutex_;
    Data data_;
    Listener listener_;
};

}  // namespace vornix
