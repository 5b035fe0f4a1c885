#pragma once

#include <memory>
#include <string>

namespace vornix {

// The line database's side of a run's records: every station of the line
// keeps its runs' records there too. Each call is bounded by the line's
// timeout and never throws.
class LineRecordKeeper {
public:
    virtual ~LineRecordKeeper() = default;
    // Stores the run's record (one JSON line, secrets already masked) under
    // its run id, replacing an earlier record of that id. Empty when stored;
    // else the run log's line saying why not.
    virtual std::string keep(const std::string& runId, const std::string& record) = 0;
    // The same for a run on a station with serials: serial (masked too) is
    // the unit's, kept beside the record so that the unit's runs are found.
    virtual std::string keepForUnit(const std::string& runId, const std::string& /*serial*/,
                                    const std::string& record) {
        return keep(runId, record);
    }
    // A run known to be over without its record (killed): the MAC block it
    // held, if still open, may go to the station's next run at once, or is
    // spent when the run had begun writing it to its router (spentFirst:
    // its first address, spentCount its size; 0 when none was spent).
    // Empty when done or when there was none; else the log line saying why not.
    virtual std::string release(const std::string& runId, std::string& spentFirst, int& spentCount) = 0;
};

// The keeper for a line database (an ODBC connection string), the station's
// name there and the timeout of every call in seconds.
std::unique_ptr<LineRecordKeeper> lineRecordKeeper(const std::string& connectionString, const std::string& station,
                                                   int timeoutSeconds);

}  // namespace vornix
