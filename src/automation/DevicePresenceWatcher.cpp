#include "automation/DevicePresenceWatcher.h"

namespace vornix {

DevicePresenceWatcher::DevicePresenceWatcher(DeviceTree& tree, Pause& pause)
    : tree_(tree), pause_(pause), thread_([this] { run(); }) {}

DevicePresenceWatcher::~DevicePresenceWatcher() { stop(); }

void DevicePresenceWatcher::stop() {
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
}

void DevicePresenceWatcher::run() {
    while (!stopping_) {
        pause_.sleepMs(10);
        if (stopping_) return;
        if (deviceReady(tree_, devicePattern)) {
            event_->set();
            return;
        }
    }
}

DevNode DevicePresenceWatcher::findDevNode(DeviceTree& tree, DevNode node, const std::string& pattern) {
    DevNode child;
    if (!tree.firstChild(node, child)) return noDevNode;
    for (;;) {
        const DevNode below = findDevNode(tree, child, pattern);
        if (below != noDevNode) return below;
        std::string id;
        // A failed ID query skips only this node's own comparison.
        if (tree.deviceId(child, id) && id.find(pattern) != std::string::npos) return child;
        if (!tree.nextSibling(child, child)) return noDevNode;
    }
}

int DevicePresenceWatcher::deviceReady(DeviceTree& tree, const std::string& pattern) {
    DevNode root;
    if (!tree.locateRoot(root)) return 0;
    const DevNode node = findDevNode(tree, root, pattern);
    if (node == noDevNode) return 0;
    unsigned long status = 0, problem = 0;
    if (!tree.status(node, status, problem)) return 0;
    return (status & devNodeDriverLoaded) && (status & devNodeStarted) ? 1 : 0;
}

}  // namespace vornix
