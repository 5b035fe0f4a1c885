#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "automation/DeviceTree.h"
#include "automation/PresenceEvent.h"
#include "station/Pause.h"

namespace vornix {

// Watches the device tree, every 10 ms, until the flashing tool's serial
// device ("SERENUM\ICP0001") is present with its driver loaded and started,
// then sets its event. It polls only as long as someone needs the answer:
// stop() (or destruction) ends the polling; the event stays valid for
// whoever holds it.
class DevicePresenceWatcher {
public:
    static constexpr const char* devicePattern = "SERENUM\\ICP0001";

    // Starts polling at once. tree and pause must outlive the watcher.
    DevicePresenceWatcher(DeviceTree& tree, Pause& pause);
    ~DevicePresenceWatcher();
    DevicePresenceWatcher(const DevicePresenceWatcher&) = delete;
    DevicePresenceWatcher& operator=(const DevicePresenceWatcher&) = delete;

    std::shared_ptr<PresenceEvent> presentEvent() const { return event_; }
    // Ends the polling and waits for the thread; the event keeps its state.
    void stop();

    // Depth-first below node: a node's descendants before the node itself,
    // then its later siblings; node itself is never compared. The first node
    // whose ID contains pattern (case-sensitive), or noDevNode.
    static DevNode findDevNode(DeviceTree& tree, DevNode node, const std::string& pattern);
    // 1 when the first matching node has its driver loaded and is started.
    static int deviceReady(DeviceTree& tree, const std::string& pattern);

private:
    void run();

    DeviceTree& tree_;
    Pause& pause_;
    std::shared_ptr<PresenceEvent> event_ = std::make_shared<PresenceEvent>();
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

}  // namespace vornix
