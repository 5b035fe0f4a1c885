#include "records/LineBlockSource.h"

namespace vornix {

using Status = LineClient::Status;

LineBlockSource::LineBlockSource(Settings settings)
    : settings_(std::move(settings)), client_(settings_.database, settings_.station, settings_.timeoutSeconds) {}

LineBlockSource::~LineBlockSource() {
    // A server that did not answer would only make the operator wait again:
    // the lease brings the block back.
    if (!held_ || !reachable_) return;
    std::string spentFirst;
    int spentCount = 0;
    client_.release(settings_.runId, spentFirst, spentCount);
}

MacBlockSource::Reserved LineBlockSource::reserve(int count) {
    Reserved reserved;
    if (settings_.serial.empty() && settings_.numberSerial && count > 0) {
        // Numbered before the block is asked for: a number taken and not
        // used is skipped, never given again.
        auto number = std::make_shared<long long>(0);
        const LineClient::Answer numbered =
            client_.call([number, settings = settings_](LineDatabase& database) -> LineClient::Answer {
                std::string diagnostic;
                if (database.takeSerialNumber(settings.serialFormat, settings.serialStart, *number, diagnostic))
                    return {Status::Done, diagnostic};
                return {Status::Failed, diagnostic};
            });
        reachable_ = numbered.status != Status::Unanswered;
        if (numbered.status != Status::Done) {
            reserved.failureLine = numbered.status == Status::Unanswered
                                       ? client_.unansweredLine()
                                       : "Can't reach the line database: " + numbered.diagnostic;
            return reserved;
        }
        std::string serial;
        reserved.failureLine = settings_.numberSerial(*number, serial);
        if (!reserved.failureLine.empty()) return reserved;
        settings_.serial = serial;
        numbered_ = true;
        reserved.serial = serial;
    }
    asked_ = std::chrono::steady_clock::now();
    auto result = std::make_shared<std::pair<LineDatabase::ReserveResult, Reservation>>();
    const LineClient::Answer answer =
        client_.call([result, count, settings = settings_, numbered = numbered_](LineDatabase& database) -> LineClient::Answer {
            if (count <= 0) return {Status::Done, std::string()};  // no addresses: a connection is all it takes
            std::string diagnostic;
            result->first = database.reserve(settings.pool, settings.station, count, settings.runId, leaseSeconds,
                                             result->second, diagnostic, settings.serial, numbered);
            switch (result->first) {
            case LineDatabase::ReserveResult::Reserved: return {Status::Done, diagnostic};
            case LineDatabase::ReserveResult::Failed: return {Status::Failed, diagnostic};
            default: return {Status::Refused, diagnostic};
            }
        });
    reachable_ = answer.status != Status::Unanswered;
    if (answer.status == Status::Unanswered) {
        reserved.failureLine = client_.unansweredLine();
        return reserved;
    }
    if (answer.status == Status::Failed) {
        reserved.failureLine = "Can't reach the line database: " + answer.diagnostic;
        return reserved;
    }
    if (count <= 0) {  // no addresses to hand out: nothing reserved
        reserved.ok = true;
        return reserved;
    }
    switch (result->first) {
    case LineDatabase::ReserveResult::Reserved:
        reservation_ = result->second;
        held_ = true;
        reserved.ok = true;
        reserved.startMac = formatMac(reservation_.first);
        if (reservation_.unitsOwn) {
            reserved.notice = "Unit " + settings_.serial + " keeps its block: " + reserved.startMac;
        } else if (reservation_.again) {
            reserved.notice = "Writing the block of an unfinished run again: " + reserved.startMac;
            reserved.reusedBlockOf = reservation_.holder;
        }
        break;
    case LineDatabase::ReserveResult::UnitBusy:
        reserved.failureLine = "Unit " + settings_.serial + " is being written by another run: nothing is written";
        break;
    case LineDatabase::ReserveResult::UnitKnown:
        // The line's counter was set back by hand: this new board is not that unit.
        reserved.failureLine = "Serial " + settings_.serial + " was given to a unit before: the line database's " +
                               "counter for " + settings_.serialFormat + " went back; nothing is written";
        break;
    case LineDatabase::ReserveResult::UnitSize:
        reserved.failureLine = "Unit " + settings_.serial + " has " + std::to_string(result->second.count) +
                               " MAC addresses from " + formatMac(result->second.first) + ", not " +
                               std::to_string(count) + ": nothing is written";
        break;
    case LineDatabase::ReserveResult::Exhausted:
        reserved.failureLine = "The MAC pool " + settings_.pool + " is exhausted";
        break;
    case LineDatabase::ReserveResult::NoSuchPool:
        reserved.failureLine = "The MAC pool " + settings_.pool + " is not in the line database";
        break;
    case LineDatabase::ReserveResult::Failed:
        reserved.failureLine = "Can't reach the line database: " + answer.diagnostic;
        break;
    }
    return reserved;
}

std::string LineBlockSource::routerHolds(const std::vector<std::string>& addresses) {
    if (settings_.serial.empty() || addresses.empty()) return std::string();
    // Each address's unit, or empty: written by the call's thread, which may
    // outlive an unanswered call.
    auto holders = std::make_shared<std::vector<std::string>>(addresses.size());
    const LineClient::Answer answer =
        client_.call([holders, addresses](LineDatabase& database) -> LineClient::Answer {
            std::string diagnostic;
            for (std::size_t i = 0; i < addresses.size(); ++i) {
                const std::optional<long long> mac = parseMac(addresses[i]);
                std::optional<LineUnit> unit;
                if (mac && !database.findUnitHolding(*mac, unit, diagnostic)) return {Status::Failed, diagnostic};
                if (unit) (*holders)[i] = unit->serial;
            }
            return {Status::Done, diagnostic};
        });
    reachable_ = answer.status != Status::Unanswered;
    if (answer.status == Status::Unanswered) return client_.unansweredLine();
    if (answer.status != Status::Done) return "Can't reach the line database: " + answer.diagnostic;
    for (std::size_t i = 0; i < addresses.size(); ++i)
        if (!(*holders)[i].empty() && (*holders)[i] != settings_.serial)
            return "Serial " + settings_.serial + " refused: this router holds " + addresses[i] + " of unit " +
                   (*holders)[i];
    return std::string();
}

// The line keeps no next address of its own: the pool moved on when the
// block was reserved.
std::string LineBlockSource::commit(const std::string&, int, const std::string&) { return std::string(); }

std::string LineBlockSource::stillHeld() {
    if (!held_) return std::string();
    // The lease began on the server after asked_: measured from asked_, it
    // ends here no later than there. A minute's margin for the write itself.
    if (std::chrono::steady_clock::now() - asked_ < std::chrono::seconds(leaseSeconds - 60)) return std::string();
    return "The MAC block " + formatMac(reservation_.first) + " was held longer than its lease of " +
           std::to_string(leaseSeconds) + " s: not written further";
}

std::string LineBlockSource::writing() {
    if (!held_) return std::string();
    // Marked before a byte goes out: a station killed after it leaves a
    // block that the database knows may be on a router.
    const LineClient::Answer answer =
        client_.call([reservation = reservation_, runId = settings_.runId](LineDatabase& database) -> LineClient::Answer {
            std::string diagnostic;
            switch (database.markWriting(reservation.id, runId, diagnostic)) {
            case LineDatabase::AssignResult::Assigned: return {Status::Done, diagnostic};
            case LineDatabase::AssignResult::Refused: return {Status::Refused, diagnostic};
            case LineDatabase::AssignResult::Failed: break;
            }
            return {Status::Failed, diagnostic};
        });
    reachable_ = answer.status != Status::Unanswered;
    if (answer.status == Status::Unanswered) return client_.unansweredLine();
    if (answer.status != Status::Done) return "Can't reach the line database: " + answer.diagnostic;
    written_ = true;
    return std::string();
}

std::string LineBlockSource::stageVerified() {
    if (!held_) return std::string();
    const LineClient::Answer answer = client_.call([reservation = reservation_, settings = settings_](
                                                       LineDatabase& database) -> LineClient::Answer {
        std::string diagnostic;
        switch (database.assign(reservation.id, settings.station, settings.router, settings.runId, diagnostic)) {
        case LineDatabase::AssignResult::Assigned: return {Status::Done, diagnostic};
        case LineDatabase::AssignResult::Refused: return {Status::Refused, diagnostic};
        case LineDatabase::AssignResult::Failed: break;
        }
        return {Status::Failed, diagnostic};
    });
    reachable_ = answer.status != Status::Unanswered;
    if (answer.status == Status::Done) {
        held_ = false;
        return std::string();
    }
    if (answer.status == Status::Unanswered) return client_.unansweredLine();
    return "Can't write start_mac to the line database: " + answer.diagnostic;
}

}  // namespace vornix
