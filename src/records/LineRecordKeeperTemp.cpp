// TEMPORARY stand-in for lineRecordKeeper() on the run-records branch, to be
// deleted when the line database's own keeper is merged: keep() inserts with
// LineDatabase::recordRun (a second keep of one run id fails instead of
// replacing), release() does nothing, and the timeout is not applied.
#include "records/LineDatabase.h"
#include "records/LineRecordKeeper.h"

namespace vornix {

namespace {

class TemporaryLineRecordKeeper : public LineRecordKeeper {
public:
    TemporaryLineRecordKeeper(std::string connectionString, std::string station)
        : connectionString_(std::move(connectionString)), station_(std::move(station)) {}

    std::string keep(const std::string& runId, const std::string& record) override {
        std::string diagnostic;
        if (!database_) database_ = LineDatabase::open(connectionString_, diagnostic);
        if (database_ && database_->recordRun(runId, station_, record, diagnostic)) return "";
        return "Can't write the run journal to the line database: " + diagnostic;
    }
    std::string release(const std::string&) override { return ""; }

private:
    std::string connectionString_, station_;
    std::unique_ptr<LineDatabase> database_;
};

}  // namespace

std::unique_ptr<LineRecordKeeper> lineRecordKeeper(const std::string& connectionString, const std::string& station,
                                                   int) {
    return std::make_unique<TemporaryLineRecordKeeper>(connectionString, station);
}

}  // namespace vornix
