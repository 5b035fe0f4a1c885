#include "records/LineBlockSource.h"

namespace vornix {

MacBlockSource::Reserved LineBlockSource::reserve(int count) {
    Reserved reserved;
    std::string diagnostic;
    database_ = LineDatabase::open(settings_.database, diagnostic);
    if (!database_) {
        reserved.failureLine = "Can't reach the line database: " + diagnostic;
        return reserved;
    }
    if (count <= 0) {  // no addresses to hand out: nothing reserved
        reserved.ok = true;
        return reserved;
    }
    switch (database_->reserve(settings_.pool, settings_.station, count, reservation_, diagnostic)) {
    case LineDatabase::ReserveResult::Reserved:
        reserved.ok = true;
        reserved.startMac = formatMac(reservation_.first);
        break;
    case LineDatabase::ReserveResult::Exhausted:
        reserved.failureLine = "The MAC pool " + settings_.pool + " is exhausted";
        break;
    case LineDatabase::ReserveResult::NoSuchPool:
        reserved.failureLine = "The MAC pool " + settings_.pool + " is not in the line database";
        break;
    case LineDatabase::ReserveResult::Failed:
        reserved.failureLine = "Can't reach the line database: " + diagnostic;
        break;
    }
    return reserved;
}

std::string LineBlockSource::commit(const std::string&, int count, const std::string&) {
    if (count <= 0) return std::string();
    std::string diagnostic;
    if (!database_ ||
        !database_->assign(reservation_.id, settings_.station, settings_.router, settings_.runId, diagnostic))
        return "Can't write start_mac to the line database: " + diagnostic;
    return std::string();
}

}  // namespace vornix
