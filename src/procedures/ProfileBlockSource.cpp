#include "procedures/ProfileBlockSource.h"

#include "config/ConfigKeys.h"
#include "config/StationConfig.h"
#include "procedures/MacBlock.h"

namespace vornix {

MacBlockSource::Reserved ProfileBlockSource::reserve(int) {
    const StationConfig config(profile_);
    const ConfigValue startMac = config.read(keys::startMac);
    // Anything but a whole address would write some other block to the
    // router; a longer value is not one either, though its buffer cuts it to
    // an address's length.
    Reserved reserved;
    if (startMac.missing || !isMacText(startMac.text) || config.read(keys::startMac, 64).text != startMac.text) {
        reserved.failureLine = "Can't read start_mac!";
        return reserved;
    }
    reserved.ok = true;
    reserved.startMac = startMac.text;
    return reserved;
}

std::string ProfileBlockSource::commit(const std::string&, int, const std::string& next) {
    const StationConfig config(profile_);
    // Read back as the next run will read it: anything else hands out a block twice.
    if (!config.write(keys::startMac, next) || config.read(keys::startMac).text != next)
        return "Can't write start_mac to " + configPath_;
    return std::string();
}

}  // namespace vornix
