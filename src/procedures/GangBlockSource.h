#pragma once

#include <functional>
#include <memory>
#include <string>

#include "config/Profile.h"
#include "procedures/ProfileBlockSource.h"
#include "station/MacBlockSource.h"

namespace vornix {

// The block from setup.ini's start_mac on a gang station, where the ports'
// runs take blocks side by side: a port takes its block under a lock the
// ports share and moves start_mac past it at once, so no two ports ever
// read the same start_mac. The block is then this run's whatever happens:
// a run that fails leaves a gap in the numbering, never a duplicate.
class GangBlockSource : public MacBlockSource {
public:
    // hold: takes the lock the gang's processes share, held while the token
    // lives; nullptr and why when it cannot be had.
    using Hold = std::function<std::shared_ptr<void>(std::string& why)>;

    GangBlockSource(Profile& profile, std::string configPath, Hold hold)
        : file_(profile, configPath), configPath_(std::move(configPath)), hold_(std::move(hold)) {}

    Reserved reserve(int count) override;
    std::string commit(const std::string& startMac, int count, const std::string& next) override;
    bool spentAtEnd() const override { return taken_ && !verified_; }
    std::string stageVerified() override {
        verified_ = true;
        return std::string();
    }

private:
    ProfileBlockSource file_;
    std::string configPath_;
    Hold hold_;
    bool taken_ = false, verified_ = false;
};

}  // namespace vornix
