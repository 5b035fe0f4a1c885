#pragma once

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "automation/DeviceTree.h"

namespace vornix::test {

// An in-memory device tree; node 0 is the root. Safe to change while a
// watcher reads it.
class MemoryDeviceTree : public DeviceTree {
public:
    struct Node {
        std::string id;
        unsigned long status = 0;
        std::vector<DevNode> children;
        DevNode parent = noDevNode;
    };

    MemoryDeviceTree() { nodes_[0].id = "HTREE\\ROOT\\0"; }

    DevNode add(DevNode parent, const std::string& id, unsigned long status = 0) {
        std::lock_guard<std::mutex> lock(mutex_);
        const DevNode node = next_++;
        nodes_[node].id = id;
        nodes_[node].status = status;
        nodes_[node].parent = parent;
        nodes_[parent].children.push_back(node);
        return node;
    }
    void setStatus(DevNode node, unsigned long status) {
        std::lock_guard<std::mutex> lock(mutex_);
        nodes_[node].status = status;
    }
    void failIdOf(DevNode node) {
        std::lock_guard<std::mutex> lock(mutex_);
        failingIds_.insert(node);
    }
    bool rootLocatable = true;
    int idQueries() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return idQueries_;
    }

    bool locateRoot(DevNode& root) override {
        root = 0;
        return rootLocatable;
    }
    bool firstChild(DevNode node, DevNode& child) override {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto& children = nodes_[node].children;
        if (children.empty()) return false;
        child = children.front();
        return true;
    }
    bool nextSibling(DevNode node, DevNode& sibling) override {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto parent = nodes_[node].parent;
        if (parent == noDevNode) return false;
        const auto& siblings = nodes_[parent].children;
        for (std::size_t i = 0; i + 1 < siblings.size(); ++i)
            if (siblings[i] == node) {
                sibling = siblings[i + 1];
                return true;
            }
        return false;
    }
    bool deviceId(DevNode node, std::string& id) override {
        std::lock_guard<std::mutex> lock(mutex_);
        ++idQueries_;
        if (failingIds_.count(node)) return false;
        id = nodes_[node].id.substr(0, 259);
        return true;
    }
    bool status(DevNode node, unsigned long& status, unsigned long& problem) override {
        std::lock_guard<std::mutex> lock(mutex_);
        status = nodes_[node].status;
        problem = 0;
        return true;
    }

private:
    mutable std::mutex mutex_;
    std::map<DevNode, Node> nodes_;
    std::set<DevNode> failingIds_;
    DevNode next_ = 1;
    int idQueries_ = 0;
};

}  // namespace vornix::test
