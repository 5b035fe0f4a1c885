#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "config/SerialRules.h"
#include "station/OperatorConsole.h"
#include "config/RouterPort.h"
#include "station/RunOutcome.h"
#include "station/StationStart.h"

namespace vornix {

// A whole station, wired for this system in one place: the start-up values,
// the ports' adapters, the three stages and the sequencer that runs them. A
// front end makes its console and hands it over; it never names a stage.
class Station {
public:
    // The station for the current directory, reporting to console (which
    // must outlive it). nullptr, why and the directory (when there is one)
    // when it cannot start there. port: on a gang station, the one port
    // this station's runs go through (its runs are that port's).
    // tell: where lines about the station's files that belong to no run go
    // (standard error when none).
    static std::unique_ptr<Station> open(OperatorConsole& console, StartRefusal& why, std::string& directory,
                                         const RouterPort& port = RouterPort(),
                                         const std::function<void(const std::string&)>& tell = {});
    // The file every process locks while it takes a block from start_mac,
    // and the file of the blocks one-port runs are writing meanwhile.
    static constexpr const char* startMacLockName = "vornix-start_mac.lock";
    static constexpr const char* startMacClaimsName = "vornix-start_mac.claims";
    // On a station with serials: the units and their blocks, and the file
    // whose bytes the runs writing a unit lock (one byte a unit).
    static constexpr const char* unitsName = "vornix-units.txt";
    static constexpr const char* unitLocksName = "vornix-units.lock";
    // Waits for a run still going on: its threads use the station.
    ~Station();
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    const StationSettings& settings() const;
    // False for a stage this build cannot run (the firmware stage off
    // Windows: the vendor's tool is a Windows program). Such a stage, when
    // chosen, ends at once without a line and counts as failed.
    bool builds(Stage stage) const;

    // On a station whose setup.ini has [SERIAL], every run is for one unit.
    // How its serial comes (Off: no serials); problem: why [SERIAL] cannot
    // be used, when it cannot.
    SerialSource serialSource(std::string& problem) const;
    // The serial of the unit the next runs are for, as typed or scanned:
    // empty when taken, else the line saying why not (no run may start).
    std::string useSerial(const std::string& typed);
    // vornix-cli --unit: the unit of a serial or of one of its addresses,
    // its block and every run of it; the exit status.
    int printUnit(std::FILE* out, std::FILE* err, const std::string& serialOrMac, bool asJson) const;

    // Why setup.ini's [LABEL] (or its template) cannot be used, as the one
    // line that says so; empty when it can, or when there is none. No run
    // may start while it is not empty.
    const std::string& labelProblem() const;
    // The lock a station's processes take around one whole label.
    static constexpr const char* labelLockName = "vornix-label.lock";

    // vornix-cli --label: the label of the last passed run of a serial, an
    // address or a run id, exactly as it was sent, from the run's record
    // and today's template; the exit status.
    int printLabel(std::FILE* out, std::FILE* err, const std::string& serialMacOrRun) const;
    // vornix-cli --reprint: that label sent again, its line to out and its
    // print (reason: the operator's) to the labels' journal; the exit
    // status, 0 only when it was printed.
    int reprintLabel(std::FILE* out, std::FILE* err, const std::string& serialMacOrRun, const std::string& reason);

    // The Start press; false while a run is still going on.
    bool startPressed();
    // Until the run is over; how it went.
    RunOutcome waitForRun();

    // Where the journal of the station's runs is.
    std::string journalPath() const;
    // The last count runs of the journal, as a table or as their records;
    // the exit status of vornix-cli --history.
    int printHistory(std::FILE* out, std::FILE* err, int count, bool asJson) const;
    // Whether arg names one of the line database's set-up commands, and their usage.
    static bool isLineCommand(const std::string& arg);
    static const char* lineCommandUsage();
    // The line database's set-up commands (args[0] is the command); their exit status.
    int lineCommand(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) const;

    // What the line view reads, from setup.ini in the current directory,
    // without starting a station: a station would record the runs it finds
    // interrupted, and the view never writes.
    struct ViewSource {
        std::string directory;
        std::string database;  // [LINE] Database, or empty
        std::string station;   // the station's name in the line, with a database
        int timeoutSeconds = 10;
    };
    static std::optional<ViewSource> viewSource(StartRefusal& why, std::string& directory);

    // Ends the process at once, without waiting for anything but the
    // collectors still inside the socket library (they end with their
    // connections).
    [[noreturn]] static void endProcess(int status);

private:
    struct Parts;
    explicit Station(std::unique_ptr<Parts> parts);
    std::unique_ptr<Parts> parts_;
};

}  // namespace vornix
