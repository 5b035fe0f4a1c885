#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>

#include <nlohmann/json.hpp>

#include "view/RunIndex.h"

namespace vornix {
class LineClient;
}

namespace vornix::view {

// The line view's data: the station's journal and transcripts, and the line
// database when there is one. Read-only. Every answer first reads what was
// appended to the journal since the last one; the database is asked again
// at most every two seconds. Any thread may ask; answers are one at a time.
class LineView {
public:
    struct Options {
        std::string directory;  // the station's: the journal and transcripts/
        std::string database;   // the ODBC connection string, or empty
        int timeoutSeconds = 10;
        // The station's name in the line: its journal's runs are shown under
        // it, as the database has them (the records name the host).
        std::string station;
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

    // path: "/api/summary", "/api/runs", "/api/run", "/api/address", "/api/pools".
    // 400 with {"error": one line} for a malformed parameter, 404 for an unknown path or run.
    Answer api(const std::string& path, const Params& params);

    // A transcript file of the station's transcripts folder: 200 and its
    // text; 400 for a name that is not a plain file name, 404 for none.
    int transcript(const std::string& name, std::string& text);

    // Whether the name can only mean a file directly in the transcripts folder.
    static bool plainFileName(const std::string& name);

    std::string journalPath() const { return journalPath_; }
    bool hasDatabase() const { return client_ != nullptr; }

    // The time the answers take as now; tests move it.
    void setClock(std::function<Millis()> now) { now_ = std::move(now); }

private:
    void refresh();
    void refreshJournal();
    void refreshDatabase();
    bool loadDatabaseRuns(const std::string& since);
    nlohmann::json pools(Millis from, Millis to);
    nlohmann::json runSummary(const Run& run) const;
    Answer summary(const Params& params);
    Answer runs(const Params& params);
    Answer run(const Params& params);
    Answer address(const Params& params);
    bool transcriptExists(const std::string& name) const;

    Options options_;
    std::string journalPath_, transcriptsPath_;
    std::unique_ptr<LineClient> client_;
    std::function<Millis()> now_;

    std::mutex mutex_;
    RunIndex index_;
    long long journalOffset_ = 0;
    unsigned long long journalFile_ = 0;  // its inode: a journal replaced is read anew
    std::unordered_set<std::string> databaseRuns_;
    std::string databaseNewest_;  // the latest recorded_at seen
    bool databaseLoaded_ = false;
    std::chrono::steady_clock::time_point databaseAsked_{};
    std::string databaseError_;
};

}  // namespace vornix::view
