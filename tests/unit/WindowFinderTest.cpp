#include <gtest/gtest.h>

#include "automation/WindowFinder.h"
#include "support/MemoryDesktop.h"
#include "support/RecordingPause.h"

namespace vornix {
namespace {

const ControlSignature toolWindow = {0, 1, 2, 12321, 9, 12320};

TEST(WindowFinder, TheTopmostMatchWinsAndNoMatchEndsAfterOnePass) {
    test::MemoryDesktop desktop;
    test::RecordingPause pause;
    WindowFinder finder(desktop, pause);
    desktop.addWithChildren(desktop.root, {1, 2});                  // a message box, say
    const WindowHandle first = desktop.addWithChildren(desktop.root, {12320, 0, 1, 2, 9, 12321, 65535});
    desktop.addWithChildren(desktop.root, toolWindow);             // a second instance, lower
    EXPECT_EQ(finder.findTopLevelWindow(toolWindow), first);
    EXPECT_EQ(pause.pauses(), (std::vector<int>{1, 20})) << "1 ms between candidates, 20 ms at the end";

    test::RecordingPause none;
    WindowFinder missing(desktop, none);
    EXPECT_EQ(missing.findTopLevelWindow({1091, 1137}), 0u);
    EXPECT_EQ(none.pauses(), (std::vector<int>{1, 1})) << "one pass, no end pause: the search never waits for a window";
}

TEST(WindowFinder, ChildCountsAndIdsOutsideTheTable) {
    test::MemoryDesktop desktop;
    test::RecordingPause pause;
    WindowFinder finder(desktop, pause);
    std::vector<int> many(256, 7);
    desktop.addWithChildren(desktop.root, many);  // 256 children: slot 0 wraps to 0
    const WindowHandle empty = desktop.add(desktop.root);
    const WindowHandle statics = desktop.addWithChildren(desktop.root, {65535, -1});
    const WindowHandle one = desktop.addWithChildren(desktop.root, {5});
    EXPECT_EQ(finder.findTopLevelWindow({7}), 0u) << "256 children match nothing";
    EXPECT_EQ(finder.findTopLevelWindow({}), statics) << "count 0: the first window with children (not 256)";
    EXPECT_EQ(finder.findTopLevelWindow({65534}), 0u) << "65535 sets no slot of another id";
    EXPECT_EQ(finder.findTopLevelWindow({5}), one);
    (void)empty;

    PresenceTable table;
    finder.collectChildIds(statics, table);
    EXPECT_EQ(table.slots[0], 2);
    int marked = 0;
    for (std::size_t i = 1; i < table.slots.size(); ++i) marked += table.slots[i];
    EXPECT_EQ(marked, 0) << "IDs above 32,766 mark no slot";
    EXPECT_FALSE(WindowFinder::hasAllIds({65535}, table));
}

// A desktop whose windows close while the finder walks them.
struct ClosingDesktop : test::MemoryDesktop {
    WindowHandle closing = 0;
    int walks = 0;
    WindowHandle next(WindowHandle window) override {
        if (window == closing && walks++ == 0) {
            remove(window);  // closes after it was looked at: no successor from it any more
            return 0;
        }
        return MemoryDesktop::next(window);
    }
};

TEST(WindowFinder, AWindowListChangingUnderTheSearchStartsANewPass) {
    ClosingDesktop desktop;
    test::RecordingPause pause;
    WindowFinder finder(desktop, pause);
    desktop.closing = desktop.addWithChildren(desktop.root, {1});
    const WindowHandle target = desktop.addWithChildren(desktop.root, {2, 20});
    EXPECT_EQ(finder.findTopLevelWindow({2, 20}), target);
    EXPECT_EQ(pause.pauses(), (std::vector<int>{20, 20})) << "a pass cut short, then the pass that finds it";
}

TEST(WindowFinder, AnAbortEventSetWhenAPassEndsYieldsNone) {
    test::MemoryDesktop desktop;
    test::RecordingPause pause;
    WindowFinder finder(desktop, pause);
    const WindowHandle tool = desktop.addWithChildren(desktop.root, toolWindow);
    const WindowHandle page = desktop.addWithChildren(tool, {1000, 1001, 1002, 1003, 1004, 1005, 1006});
    PresenceEvent event;
    EXPECT_EQ(finder.findChildWindow(tool, {1000, 1001, 1002, 1003, 1004, 1005, 1006}, &event), page);
    event.set();
    EXPECT_EQ(finder.findChildWindow(tool, {1000, 1001, 1002, 1003, 1004, 1005, 1006}, &event), 0u);
    EXPECT_EQ(finder.findChildWindow(0, {1000}), 0u) << "no parent, no child";
}

TEST(WindowFinder, PressesAndTextsReachOnlyExistingControls) {
    test::MemoryDesktop desktop;
    test::RecordingPause pause;
    WindowFinder finder(desktop, pause);
    const WindowHandle page = desktop.addWithChildren(desktop.root, {1002, 1003});
    const WindowHandle address = desktop.dialogItem(page, 1002);
    finder.setControlText(page, 1002, "192.168.1.1");
    finder.pressButton(desktop.dialogItem(page, 1003));
    finder.pressButton(desktop.dialogItem(page, 1013));  // not there: nothing is posted
    finder.setControlText(page, 1031, "BOOTCFG");         // not there: nothing is sent
    finder.setControlText(0, 1002, "x");
    const WindowHandle button = desktop.dialogItem(page, 1003);
    EXPECT_EQ(desktop.events, (std::vector<test::MemoryDesktop::Event>{
                                  {address, "text 192.168.1.1"}, {button, "post 256 32 32"}, {button, "post 257 32 32"}}));
}

}  // namespace
}  // namespace vornix
