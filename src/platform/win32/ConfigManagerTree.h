#pragma once

#include "automation/DeviceTree.h"

namespace vornix::platform {

// The device tree through the Configuration Manager (CM_* functions).
class ConfigManagerTree : public DeviceTree {
public:
    bool locateRoot(DevNode& root) override;
    bool firstChild(DevNode node, DevNode& child) override;
    bool nextSibling(DevNode node, DevNode& sibling) override;
    bool deviceId(DevNode node, std::string& id) override;
    bool status(DevNode node, unsigned long& status, unsigned long& problem) override;
};

}  // namespace vornix::platform
