#pragma once

#include "config/Profile.h"
#include "station/MacBlockSource.h"

namespace vornix {

// The block from setup.ini: start_mac is this router's first address, and
// the address after its block is written back for the next router.
class ProfileBlockSource : public MacBlockSource {
public:
    ProfileBlockSource(Profile& profile, std::string configPath)
        : profile_(profile), configPath_(std::move(configPath)) {}

    Reserved reserve(int count) override;
    std::string commit(const std::string& startMac, int count, const std::string& next) override;

private:
    Profile& profile_;
    std::string configPath_;
};

}  // namespace vornix
