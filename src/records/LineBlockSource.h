#pragma once

#include <memory>
#include <string>

#include "records/LineDatabase.h"
#include "station/MacBlockSource.h"

namespace vornix {

// The block from the line's database: this router's block is reserved from
// the pool, in a transaction no other station can win at the same time, and
// becomes this router's assignment once verified.
class LineBlockSource : public MacBlockSource {
public:
    struct Settings {
        std::string database;  // the ODBC connection string
        std::string pool;
        std::string station;
        std::string router;    // the router's address, for the assignment
        std::string runId;     // the run's journal record
    };
    explicit LineBlockSource(Settings settings) : settings_(std::move(settings)) {}

    Reserved reserve(int count) override;
    std::string commit(const std::string& startMac, int count, const std::string& next) override;

private:
    Settings settings_;
    std::unique_ptr<LineDatabase> database_;
    Reservation reservation_;
};

}  // namespace vornix
