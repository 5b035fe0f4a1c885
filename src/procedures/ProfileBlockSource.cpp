#include "procedures/ProfileBlockSource.h"

#include <algorithm>
#include <cstdlib>

#include "config/ConfigKeys.h"
#include "config/StationConfig.h"
#include "procedures/MacBlock.h"

namespace vornix {

namespace {

// The last three octets' counter at a range's last address, which no block
// reaches: start_mac stands there once the range is used up.
constexpr long long rangeEnd = 0xFFFFFF;

bool samePrefix(const std::string& a, const std::string& b) {
    return a.size() >= 8 && b.size() >= 8 && startsWithNoCase(a, b.substr(0, 8));
}

long long endOf(const StartMacClaim& claim) { return MacBlock::readCounter(claim.first) + claim.count; }

// start_mac as the station accepts it, or empty. A longer value is not an
// address either, though its buffer cuts it to an address's length.
std::string readStartMac(Profile& profile) {
    const StationConfig config(profile);
    const ConfigValue startMac = config.read(keys::startMac);
    if (startMac.missing || !isMacText(startMac.text) || config.read(keys::startMac, 64).text != startMac.text)
        return std::string();
    return startMac.text;
}

}  // namespace

bool parseClaims(const std::string& text, std::vector<StartMacClaim>& claims) {
    claims.clear();
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();  // edited on Windows
        if (line.empty()) continue;
        // FIRST COUNT RUN: the run's id may hold blanks.
        const std::size_t countAt = line.find(' '), runAt = countAt == std::string::npos ? countAt : line.find(' ', countAt + 1);
        if (runAt == std::string::npos) return false;
        StartMacClaim claim;
        claim.first = line.substr(0, countAt);
        const std::string count = line.substr(countAt + 1, runAt - countAt - 1);
        claim.runId = line.substr(runAt + 1);
        if (!isMacText(claim.first) || count.empty() || count.size() > 8 ||
            count.find_first_not_of("0123456789") != std::string::npos)
            return false;
        claim.count = std::atoi(count.c_str());
        if (claim.count < 1 || endOf(claim) > rangeEnd) return false;
        claims.push_back(std::move(claim));
    }
    return true;
}

std::string claimsText(const std::vector<StartMacClaim>& claims) {
    std::string text;
    for (const StartMacClaim& claim : claims)
        text += claim.first + " " + std::to_string(claim.count) + " " + claim.runId + "\n";
    return text;
}

ProfileBlockSource::ProfileBlockSource(Profile& profile, std::string configPath, StartMacShare share, Moves moves,
                                       std::string runId)
    : profile_(profile), configPath_(std::move(configPath)), share_(std::make_unique<StartMacShare>(std::move(share))),
      moves_(moves), runId_(std::move(runId)) {}

ProfileBlockSource::ProfileBlockSource(Profile& profile, std::string configPath)
    : profile_(profile), configPath_(std::move(configPath)) {}

ProfileBlockSource::~ProfileBlockSource() {
    if (claimed_) dropClaim();
}

std::string ProfileBlockSource::pastRangeEnd(const std::string& first, int count) {
    const long long at = MacBlock::readCounter(first), left = rangeEnd - at;
    if (count <= left) return std::string();
    MacBlock block;
    block.setStartMac(first);
    return "Can't take " + std::to_string(count) + (count == 1 ? " MAC address" : " MAC addresses") + " from " + first +
           ": the range ends at " + block.formatMac(rangeEnd) + " (" + std::to_string(left) + " left)";
}

std::shared_ptr<void> ProfileBlockSource::lock(std::string& failure) {
    if (!share_) return nullptr;
    std::string why;
    std::shared_ptr<void> held = share_->hold(why);
    if (!held) failure = "Can't lock start_mac in " + configPath_ + ": " + why;
    return held;
}

bool ProfileBlockSource::readClaims(std::vector<StartMacClaim>& claims, std::string& failure) {
    claims.clear();
    if (!share_) return true;
    std::string text;
    switch (share_->readClaims(text)) {
    case FileRead::Missing: return true;
    case FileRead::Failed: failure = "Can't read the MAC blocks being written in " + share_->claimsPath; return false;
    case FileRead::Ok: break;
    }
    if (parseClaims(text, claims)) return true;
    failure = "Can't read the MAC blocks being written in " + share_->claimsPath + ": it is not a list of blocks";
    return false;
}

// Claims behind start_mac, or of another range, hold nothing back any more.
bool ProfileBlockSource::writeClaims(std::vector<StartMacClaim> claims, const std::string& startMac,
                                     std::string& failure) {
    claims.erase(std::remove_if(claims.begin(), claims.end(),
                                [&](const StartMacClaim& claim) {
                                    return !samePrefix(claim.first, startMac) ||
                                           endOf(claim) <= MacBlock::readCounter(startMac);
                                }),
                 claims.end());
    if (share_->writeClaims(claimsText(claims))) return true;
    failure = "Can't write the MAC blocks being written to " + share_->claimsPath;
    return false;
}

std::string ProfileBlockSource::writeStartMac(const std::string& next) {
    const StationConfig config(profile_);
    // Read back as the next run will read it: anything else hands out a block twice.
    if (!config.write(keys::startMac, next) || config.read(keys::startMac).text != next)
        return "Can't write start_mac to " + configPath_;
    return std::string();
}

MacBlockSource::Reserved ProfileBlockSource::reserve(int count) {
    if (forUnit_ && share_ && count > 0) return reserveForUnit(count);
    Reserved reserved;
    std::string failure;
    const std::shared_ptr<void> held = lock(failure);
    std::vector<StartMacClaim> claims;
    const std::string startMac = failure.empty() ? readStartMac(profile_) : std::string();
    if (failure.empty() && startMac.empty()) failure = "Can't read start_mac!";
    if (failure.empty()) readClaims(claims, failure);
    if (!failure.empty()) {
        reserved.failureLine = failure;
        return reserved;
    }
    // After every block a run beside this one is writing.
    long long first = MacBlock::readCounter(startMac);
    for (const StartMacClaim& claim : claims)
        if (samePrefix(claim.first, startMac)) first = std::max(first, endOf(claim));
    MacBlock block;
    block.setStartMac(startMac);
    const std::string firstMac = block.formatMac(first);
    reserved.failureLine = pastRangeEnd(firstMac, count);
    if (!reserved.failureLine.empty()) return reserved;

    if (share_ && count > 0 && moves_ == Moves::AtOnce) {
        // Moved past at once, as the block's last step under the lock: the
        // next taker reads the moved start_mac.
        reserved.failureLine = writeStartMac(block.formatMac(first + count));
        if (!reserved.failureLine.empty()) return reserved;
        taken_ = reserved.taken = true;
    } else if (share_ && count > 0) {
        claims.push_back({firstMac, count, runId_});
        if (!writeClaims(claims, startMac, reserved.failureLine)) return reserved;
        claimed_ = true;
    }
    reserved.ok = true;
    reserved.startMac = firstMac;
    return reserved;
}

MacBlockSource::Reserved ProfileBlockSource::reserveForUnit(int count) {
    Reserved reserved;
    std::string why;
    const bool assigned = serial_.empty();
    if (assigned) {
        // Numbered now, under the lock every taker shares: the counter only
        // moves forward, and a serial it gave is never given again.
        std::string failure;
        const std::shared_ptr<void> held = lock(failure);
        if (!held) {
            reserved.failureLine = failure;
            return reserved;
        }
        reserved.failureLine = assign_ ? assign_(serial_) : "No serial for this unit: nothing is written";
        if (!reserved.failureLine.empty()) return reserved;
    }
    reserved.serial = serial_;
    unitHeld_ = share_->holdUnit(serial_, why);
    if (!unitHeld_) {
        reserved.failureLine = why.empty() ? "Unit " + serial_ + " is being written by another run: nothing is written"
                                           : "Can't lock unit " + serial_ + ": " + why;
        return reserved;
    }
    std::string failure;
    const std::shared_ptr<void> held = lock(failure);
    std::string text;
    if (failure.empty()) switch (share_->readUnits(text)) {
        case FileRead::Failed: failure = "Can't read the units in " + share_->unitsPath; break;
        case FileRead::Missing: text.clear(); break;
        case FileRead::Ok: break;
        }
    if (!failure.empty()) {
        reserved.failureLine = failure;
        return reserved;
    }
    units_ = parseUnits(text);
    if (unitNamed(units_, serial_) && assigned) {
        // next_serial was set back by hand: this new board is not that unit.
        reserved.failureLine = "Serial " + serial_ + " was given to a unit before: next_serial in " + configPath_ +
                               " went back; nothing is written";
        return reserved;
    }
    if (const UnitBlock* unit = unitNamed(units_, serial_)) {
        // Its own block again, whatever its earlier runs did: nothing taken.
        if (unit->count != count) {
            reserved.failureLine = "Unit " + serial_ + " has " + std::to_string(unit->count) + " MAC addresses from " +
                                   unit->first + ", not " + std::to_string(count) + ": nothing is written";
            return reserved;
        }
        reserved.ok = true;
        reserved.startMac = unit->first;
        reserved.notice = "Unit " + serial_ + " keeps its block: " + unit->first;
        return reserved;
    }
    const std::string startMac = readStartMac(profile_);
    std::vector<StartMacClaim> claims;
    if (startMac.empty()) failure = "Can't read start_mac!";
    else readClaims(claims, failure);
    if (!failure.empty()) {
        reserved.failureLine = failure;
        return reserved;
    }
    // After every block being written, and every unit's: a unit bound by a
    // run killed before it moved start_mac keeps its block.
    long long first = MacBlock::readCounter(startMac);
    for (const StartMacClaim& claim : claims)
        if (samePrefix(claim.first, startMac)) first = std::max(first, endOf(claim));
    for (const UnitBlock& unit : units_)
        if (samePrefix(unit.first, startMac)) first = std::max<long long>(first, MacBlock::readCounter(unit.first) + unit.count);
    MacBlock block;
    block.setStartMac(startMac);
    const std::string firstMac = block.formatMac(first);
    reserved.failureLine = pastRangeEnd(firstMac, count);
    if (!reserved.failureLine.empty()) return reserved;
    // The unit's for life from here: bound before a byte goes to the router.
    const UnitBlock unit{serial_, firstMac, count, runId_};
    if (!share_->appendUnit(unitLine(unit), why)) {
        reserved.failureLine = "Can't write the units file " + share_->unitsPath + ": " + why;
        return reserved;
    }
    units_.push_back(unit);
    reserved.failureLine = writeStartMac(block.formatMac(first + count));
    if (!reserved.failureLine.empty()) return reserved;
    reserved.ok = true;
    reserved.startMac = firstMac;
    return reserved;
}

std::string ProfileBlockSource::routerHolds(const std::vector<std::string>& addresses) {
    for (const std::string& address : addresses)
        if (const UnitBlock* unit = unitHolding(units_, address); unit && unit->serial != serial_)
            return "Serial " + serial_ + " refused: this router holds " + address + " of unit " + unit->serial;
    return std::string();
}

std::string ProfileBlockSource::commit(const std::string& startMac, int, const std::string& next) {
    if (!share_) return writeStartMac(next);
    if (forUnit_) return std::string();  // moved past when the unit was bound
    if (moves_ == Moves::AtOnce) return std::string();  // moved when the block was taken
    std::string failure;
    const std::shared_ptr<void> held = lock(failure);
    if (!held) return failure;
    // Forward only: a taker beside this run may have moved past the block already.
    const std::string now = readStartMac(profile_);
    const bool behind = now.empty() || (samePrefix(now, startMac) && MacBlock::readCounter(now) < MacBlock::readCounter(next));
    if (behind) {
        failure = writeStartMac(next);
        if (!failure.empty()) return failure;
    }
    std::vector<StartMacClaim> claims;
    std::string ignored;
    // A claim that cannot be dropped now lies behind start_mac: it holds nothing back.
    if (readClaims(claims, ignored)) {
        claims.erase(std::remove_if(claims.begin(), claims.end(),
                                    [&](const StartMacClaim& claim) { return claim.runId == runId_; }),
                     claims.end());
        if (writeClaims(claims, behind ? next : now, ignored)) claimed_ = false;
    }
    return std::string();
}

void ProfileBlockSource::dropClaim() {
    std::string failure;
    const std::shared_ptr<void> held = lock(failure);
    std::vector<StartMacClaim> claims;
    // Left in place when it cannot be dropped: the next takers skip the block, a gap.
    if (!held || !readClaims(claims, failure)) return;
    claims.erase(std::remove_if(claims.begin(), claims.end(),
                                [&](const StartMacClaim& claim) { return claim.runId == runId_; }),
                 claims.end());
    const std::string startMac = readStartMac(profile_);
    if (!startMac.empty() && writeClaims(claims, startMac, failure)) claimed_ = false;
}

bool settleKilledBlock(Profile& profile, const StartMacShare& share, const std::string& runId,
                       const std::string& first, int count, bool written, std::string& told) {
    std::string why;
    const std::shared_ptr<void> held = share.hold(why);
    if (!held) {
        told = "cannot settle the block " + first + " of the interrupted run " + runId + ": " + why;
        return false;
    }
    const std::string now = readStartMac(profile);
    bool moved = false;
    if (written && !now.empty() && isMacText(first) && samePrefix(now, first) &&
        MacBlock::readCounter(now) < MacBlock::readCounter(first) + count &&
        MacBlock::readCounter(first) + count <= rangeEnd) {
        MacBlock block;
        block.setStartMac(now);
        const std::string next = block.formatMac(MacBlock::readCounter(first) + count);
        const StationConfig config(profile);
        if (!config.write(keys::startMac, next) || config.read(keys::startMac).text != next) {
            told = "cannot move start_mac past the block " + first + " of the interrupted run " + runId +
                   ": setup.ini cannot be written, and the next router would get that block again";
            return false;
        }
        told = "start_mac moved from " + now + " to " + next + ": the interrupted run " + runId +
               " had begun writing that block to its router";
        moved = true;
    }
    std::string text;
    std::vector<StartMacClaim> claims;
    if (share.readClaims(text) == FileRead::Ok && parseClaims(text, claims)) {
        const std::size_t before = claims.size();
        claims.erase(std::remove_if(claims.begin(), claims.end(),
                                    [&](const StartMacClaim& claim) { return claim.runId == runId; }),
                     claims.end());
        if (claims.size() != before) share.writeClaims(claimsText(claims));
    }
    return moved;
}

}  // namespace vornix
