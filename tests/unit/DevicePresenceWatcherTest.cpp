#include <gtest/gtest.h>

#include <thread>

#include "automation/DevicePresenceWatcher.h"
#include "support/MemoryDeviceTree.h"

namespace vornix {
namespace {

constexpr unsigned long ready = devNodeDriverLoaded | devNodeStarted;
const std::string pattern = DevicePresenceWatcher::devicePattern;

struct YieldingPause : Pause {
    void sleepMs(int) override { std::this_thread::yield(); }
};

TEST(DevicePresenceWatcher, SearchOrderDescendantsFirstRootNeverCompared) {
    test::MemoryDeviceTree tree;
    const DevNode acpi = tree.add(0, "ACPI\\PNP0501\\1");
    const DevNode serial = tree.add(acpi, "SERENUM\\ICP0001\\5&1234&0&0000");  // below the first child
    const DevNode later = tree.add(0, "SERENUM\\ICP0001\\other");
    EXPECT_EQ(DevicePresenceWatcher::findDevNode(tree, 0, pattern), serial) << "descendants before later siblings";

    test::MemoryDeviceTree parentFirst;
    const DevNode parent = parentFirst.add(0, "SERENUM\\ICP0001\\parent");
    const DevNode child = parentFirst.add(parent, "SERENUM\\ICP0001\\child");
    EXPECT_EQ(DevicePresenceWatcher::findDevNode(parentFirst, 0, pattern), child) << "a node's children before it";
    EXPECT_EQ(DevicePresenceWatcher::findDevNode(parentFirst, child, pattern), noDevNode) << "the start node itself is never compared";

    test::MemoryDeviceTree rootOnly;
    (void)later;
    EXPECT_EQ(DevicePresenceWatcher::findDevNode(rootOnly, 0, "HTREE"), noDevNode) << "the root is never compared";

    test::MemoryDeviceTree cases;
    cases.add(0, "serenum\\icp0001\\lower");
    const DevNode skipped = cases.add(0, "SERENUM\\ICP0001\\unreadable");
    cases.failIdOf(skipped);
    const DevNode below = cases.add(skipped, "USB\\VID_1234\\SERENUM\\ICP0001X");
    EXPECT_EQ(DevicePresenceWatcher::findDevNode(cases, 0, pattern), below)
        << "case-sensitive, anywhere in a longer ID; an unreadable ID skips only that node";
}

TEST(DevicePresenceWatcher, ReadyMeansDriverLoadedAndStartedOfTheFirstMatch) {
    test::MemoryDeviceTree tree;
    const DevNode first = tree.add(0, "SERENUM\\ICP0001\\a", devNodeDriverLoaded);
    tree.add(0, "SERENUM\\ICP0001\\b", ready);
    EXPECT_EQ(DevicePresenceWatcher::deviceReady(tree, pattern), 0) << "only the first match is tested";
    tree.setStatus(first, devNodeStarted);
    EXPECT_EQ(DevicePresenceWatcher::deviceReady(tree, pattern), 0);
    tree.setStatus(first, ready | 0x400);
    EXPECT_EQ(DevicePresenceWatcher::deviceReady(tree, pattern), 1);
    tree.rootLocatable = false;
    EXPECT_EQ(DevicePresenceWatcher::deviceReady(tree, pattern), 0);
}

TEST(DevicePresenceWatcher, SignalsOnceTheDeviceIsReadyAndTheEventOutlivesIt) {
    test::MemoryDeviceTree tree;
    YieldingPause pause;
    std::shared_ptr<PresenceEvent> event;
    {
        DevicePresenceWatcher watcher(tree, pause);
        event = watcher.presentEvent();
        const DevNode device = tree.add(0, "SERENUM\\ICP0001\\port", devNodeDriverLoaded);
        EXPECT_FALSE(event->waitFor(50)) << "present but not started";
        tree.setStatus(device, ready);
        EXPECT_TRUE(event->waitFor(5000));
    }
    EXPECT_TRUE(event->isSet()) << "the event stays valid and set after the watcher is gone";
}

TEST(DevicePresenceWatcher, StopEndsThePollingWithoutSettingTheEvent) {
    test::MemoryDeviceTree tree;
    YieldingPause pause;
    DevicePresenceWatcher watcher(tree, pause);
    while (tree.idQueries() == 0) {
        tree.add(0, "PCI\\VEN_8086");
        std::this_thread::yield();
    }
    watcher.stop();
    const int queries = tree.idQueries();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(tree.idQueries(), queries) << "no polling after stop";
    EXPECT_FALSE(watcher.presentEvent()->isSet());
}

}  // namespace
}  // namespace vornix
