// The device tree through the Configuration Manager. Wine has none
// (CM_Locate_DevNodeA fails there), so the watcher never sees the device.
#include <gtest/gtest.h>

#include "automation/DevicePresenceWatcher.h"
#include "platform/win32/ConfigManagerTree.h"

namespace vornix {
namespace {

TEST(ConfigManagerTree, TheWatcherPollsUntilStoppedWhereNoDeviceIsReady) {
    platform::ConfigManagerTree tree;
    EXPECT_EQ(DevicePresenceWatcher::deviceReady(tree, DevicePresenceWatcher::devicePattern), 0);
    RealPause pause;
    std::shared_ptr<PresenceEvent> event;
    {
        DevicePresenceWatcher watcher(tree, pause);
        event = watcher.presentEvent();
        EXPECT_FALSE(event->waitFor(100));
    }  // stopped and joined here
    EXPECT_FALSE(event->isSet());
}

}  // namespace
}  // namespace vornix
