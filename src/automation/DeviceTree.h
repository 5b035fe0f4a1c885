#pragma once

#include <cstdint>
#include <string>

namespace vornix {

// A node of the system's device tree.
using DevNode = std::uint32_t;
// Never a valid node: "none found".
constexpr DevNode noDevNode = 0xFFFFFFFFu;

// Status bits of a device node.
constexpr unsigned long devNodeDriverLoaded = 0x2;
constexpr unsigned long devNodeStarted = 0x8;

// The device-tree port: the few questions the presence watcher asks. Each
// answers false when the system's query fails.
class DeviceTree {
public:
    virtual ~DeviceTree() = default;
    virtual bool locateRoot(DevNode& root) = 0;
    virtual bool firstChild(DevNode node, DevNode& child) = 0;
    virtual bool nextSibling(DevNode node, DevNode& sibling) = 0;
    // The device instance ID, as read into a 260-byte buffer.
    virtual bool deviceId(DevNode node, std::string& id) = 0;
    virtual bool status(DevNode node, unsigned long& status, unsigned long& problem) = 0;
};

}  // namespace vornix
