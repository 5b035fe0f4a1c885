#include "procedures/GangBlockSource.h"

#include "procedures/MacBlock.h"

namespace vornix {

MacBlockSource::Reserved GangBlockSource::reserve(int count) {
    std::string why;
    const std::shared_ptr<void> held = hold_(why);
    if (!held) {
        Reserved refused;
        refused.failureLine = "Can't lock start_mac in " + configPath_ + ": " + why;
        return refused;
    }
    // Read and moved past under the lock, as a one-port station does after
    // its run: the next port reads the moved start_mac.
    Reserved reserved = file_.reserve(count);
    if (!reserved.ok) return reserved;
    MacBlock block;
    block.setStartMac(reserved.startMac);
    const std::string failed = file_.commit(reserved.startMac, count, block.after(count));
    if (!failed.empty()) {
        Reserved unwritten;
        unwritten.failureLine = failed;
        return unwritten;
    }
    taken_ = true;
    reserved.taken = true;
    return reserved;
}

// start_mac moved past the block when it was taken.
std::string GangBlockSource::commit(const std::string&, int, const std::string&) { return std::string(); }

}  // namespace vornix
