#include "procedures/GangBlockSource.h"

#include "config/ConfigKeys.h"
#include "config/StationConfig.h"
#include "procedures/MacBlock.h"

namespace vornix {

MacBlockSource::Reserved GangBlockSource::reserve(int count) {
    Reserved reserved;
    std::string why;
    const std::shared_ptr<void> held = hold_(why);
    if (!held) {
        reserved.failureLine = "Can't lock start_mac in " + configPath_ + ": " + why;
        return reserved;
    }
    const StationConfig config(profile_);
    const ConfigValue startMac = config.read(keys::startMac);
    if (startMac.missing || !isMacText(startMac.text) || config.read(keys::startMac, 64).text != startMac.text) {
        reserved.failureLine = "Can't read start_mac!";
        return reserved;
    }
    MacBlock block;
    block.setStartMac(startMac.text);
    const std::string next = block.formatMac(MacBlock::readCounter(block.startMac()) + count);
    // Read back as the next port will read it: anything else hands out a block twice.
    if (!config.write(keys::startMac, next) || config.read(keys::startMac).text != next) {
        reserved.failureLine = "Can't write start_mac to " + configPath_;
        return reserved;
    }
    taken_ = true;
    reserved.ok = true;
    reserved.taken = true;
    reserved.startMac = startMac.text;
    return reserved;
}

// start_mac moved past the block when it was taken.
std::string GangBlockSource::commit(const std::string&, int, const std::string&) { return std::string(); }

}  // namespace vornix
