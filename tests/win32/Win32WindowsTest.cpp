// The window finder on the real window manager: a message box of this
// process is found by its children's IDs and closed by a posted Space press.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <thread>

#include "automation/WindowFinder.h"
#include "platform/win32/Win32Windows.h"

namespace vornix {
namespace {

TEST(Win32Windows, FindsAMessageBoxByItsControlsAndPressesItsButton) {
    std::atomic<int> result{-1};
    std::thread box([&] { result = MessageBoxA(nullptr, "press me", "Vornix finder test", MB_OK); });
    platform::Win32Windows windows;
    RealPause pause;
    WindowFinder finder(windows, pause);
    WindowHandle found = 0;
    // A message box carries its icon static (1088), OK (1) and its text (65535).
    for (int i = 0; i < 100 && !found; ++i) {
        found = finder.findTopLevelWindow({1088, 1});
        if (!found) Sleep(50);
    }
    ASSERT_NE(found, 0u);
    char title[64] = "";
    GetWindowTextA(reinterpret_cast<HWND>(found), title, sizeof title);
    EXPECT_STREQ(title, "Vornix finder test");
    EXPECT_EQ(finder.findTopLevelWindow({1088, 1, 32000}), 0u) << "an ID no window has";
    finder.pressButton(windows.dialogItem(found, 1));
    box.join();
    EXPECT_EQ(result, IDOK);
}

}  // namespace
}  // namespace vornix
