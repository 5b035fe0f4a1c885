#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <nlohmann/json.hpp>

#include "records/LineDatabase.h"
#include "view/RunIndex.h"

namespace vornix {
class LineClient;
}

namespace vornix::view {

// The line view's data: the station's journal and transcripts, and the line
// database when there is one. Read-only. Every answer first reads what was
// appended to the journal since the last one. The database's runs and pools
// are asked for by a thread of their own every two seconds, so that no
// answer waits for them. Any thread may ask. Answers from the index are one
// at a time; a run or an address asked of the database waits for it
// without holding the index, so a slow database delays only that answer.
class LineView {
public:
    struct Options {
        std::string directory;  // the station's: the journal and transcripts/
        std::string database;   // the ODBC connection string, or empty
        int timeoutSeconds = 10;
        // The station's name in the line: its journal's runs are shown under
        // it, as the database has them (the records name the host).
        std::string station;
        // How often the count of the database's records is checked against
        // those read (a record stored with a clock far behind is missed).
        int recountSeconds = 30;
        // Without a database: the station's own unit, by an address or its
        // serial (false and why when its files cannot be read); none: the
        // view has no units.
        using StationUnits =
            std::function<bool(std::optional<long long> mac, const std::string& serial, std::optional<LineUnit>& unit,
                               std::vector<LineDatabase::StoredRun>& runs, std::string& why)>;
        StationUnits stationUnits = nullptr;
    };
    using Params = std::map<std::string, std::string>;
    struct Answer {
        int status = 200;
        nlohmann::json body;
    };

    explicit LineView(Options options);
    ~LineView();

    // Reads the records now: the first answer then comes as fast as the next.
    // The database's problem, if it had one, or empty.
    std::string load();
    // From now on the database is asked again every two seconds, until the end.
    void follow();
    // Asks the database now, as the following thread does.
    void poll();

    // path: "/api/summary", "/api/runs", "/api/run", "/api/address", "/api/unit", "/api/pools".
    // 400 with {"error": one line} for a malformed parameter, 404 for an unknown path or run.
    Answer api(const std::string& path, const Params& params);

    // A transcript file of the station's transcripts folder: 200 and the
    // file opened for reading (fd, the caller's to close) with its size; 400
    // for a name that is not a plain file name, 404 for none, a link or
    // anything but a regular file.
    int transcript(const std::string& name, int& fd, long long& size);

    // Whether the name can only mean a file directly in the transcripts folder.
    static bool plainFileName(const std::string& name);

    std::string journalPath() const { return journalPath_; }
    bool hasDatabase() const { return poller_ != nullptr; }
    // How often the database's runs were read whole (at the start, and when
    // the count showed a run missed or deleted).
    int fullReads();

    // The time the answers take as now; tests move it.
    void setClock(std::function<Millis()> now) { now_ = std::move(now); }

private:
    void refreshJournal();
    // Asks the database for its runs (all, or those stored lately) and its
    // pools, and takes them in; the caller holds databaseMutex_, not mutex_.
    void pollDatabase(bool all);
    // present: collects the ids read (a whole read), else they go to databaseRuns_.
    bool readDatabaseRuns(const std::string& since, std::unordered_set<std::string>* present = nullptr);
    // A record refused unparsed: one line on stderr, and its run's page says why.
    void refuse(const std::string& where, const std::string& why, const std::string& runId);
    // One question about a run or an address on a client of its own; false
    // and the failure line when it was not answered.
    template <typename Read>
    bool lookup(Read read, std::string& failure);
    void readPools();
    nlohmann::json pools(std::size_t span, Millis length) const;
    nlohmann::json runSummary(const Run& run) const;
    Answer summary(const Params& params);
    Answer runs(const Params& params);
    Answer run(const Params& params);
    Answer address(const Params& params);
    Answer unit(const Params& params);
    bool transcriptExists(const std::string& name) const;

    Options options_;
    std::string journalPath_, transcriptsPath_;
    std::unique_ptr<LineClient> poller_;  // for the runs and pools, on the following thread
    std::mutex lookupMutex_;
    std::vector<std::unique_ptr<LineClient>> lookupClients_;  // idle ones, for the answers' own questions
    int lookupsOut_ = 0;
    std::function<Millis()> now_;

    std::mutex mutex_;  // the index and what the database said
    RunIndex index_;
    long long journalOffset_ = 0;
    unsigned long long journalFile_ = 0;  // its inode: a journal replaced is read anew
    bool skippingLine_ = false;           // the journal from journalOffset_ is the rest of a line too long
    std::unordered_map<std::string, std::string> refused_;  // run id: why its record was refused
    int refusedLogged_ = 0;
    int fullReads_ = 0;
    std::unordered_set<std::string> databaseRuns_;
    std::string databaseNewest_;  // the latest recorded_at seen
    bool databaseLoaded_ = false;
    std::string databaseError_;
    std::vector<LineDatabase::PoolFigures> pools_;  // assignedSince for each of the spans

    std::mutex databaseMutex_;  // one poll at a time
    std::chrono::steady_clock::time_point counted_{};
    std::mutex followMutex_;
    std::condition_variable followWake_;
    bool stopping_ = false;
    std::thread follower_;
};

}  // namespace vornix::view
