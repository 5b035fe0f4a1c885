#include "records/LineDatabase.h"

#include "records/LineStatements.h"

// The run store: each run's record, kept by its id.
namespace vornix {

using odbc::Fetch;
using odbc::Parameter;
using linedb::Cursor;
using linedb::change;
using linedb::nameProblem;
using linedb::run;
using linedb::utcNow;
using linedb::validName;

bool LineDatabase::recordRun(const std::string& runId, const std::string& station, const std::string& record,
                             std::string& diagnostic, const std::string& serial) {
    odbc::Connection& db = *connection_;
    auto fail = [&](const std::string& problem) {
        diagnostic = "cannot record run " + db.mask(runId) + ": " + problem;
        return false;
    };
    if (!validName(runId, maxRunId)) return fail(nameProblem("the run id", runId, maxRunId));
    if (!validName(station, maxStationName)) return fail(nameProblem("the station name", station, maxStationName));
    if (!serial.empty() && !validName(serial, maxSerial)) return fail(nameProblem("the serial", serial, maxSerial));
    std::string problem;
    long long rows = 0;
    odbc::Transaction transaction(db);
    // A record stored again (its result corrected, or a retry after a lost
    // answer) replaces the earlier one. A run for no unit has no serial (NULL).
    const std::string now = utcNow();
    if (!change(*statements_,
                "UPDATE vornix_run SET station = ?, recorded_at = ?, record_text = ?, serial = NULLIF(?, '')"
                " WHERE run_id = ?",
                {Parameter::text(station), Parameter::text(now), Parameter::text(record), Parameter::text(serial),
                 Parameter::text(runId)},
                rows, problem))
        return fail(problem);
    if (rows == 0 &&
        !change(*statements_,
                "INSERT INTO vornix_run (run_id, station, recorded_at, record_text, serial)"
                " VALUES (?, ?, ?, ?, NULLIF(?, ''))",
                {Parameter::text(runId), Parameter::text(station), Parameter::text(now), Parameter::text(record),
                 Parameter::text(serial)},
                rows, problem))
        return fail(problem);
    if (!transaction.commit(problem)) return fail(problem);
    return true;
}

}  // namespace vornix
