#include <gtest/gtest.h>

#include <functional>

#include "automation/ToolLauncher.h"
#include "config/IniProfile.h"
#include "support/MemoryDesktop.h"
#include "support/MemoryDeviceTree.h"
#include "support/RecordingConsole.h"
#include "support/RecordingPause.h"
#include "support/TempDir.h"

namespace vornix {
namespace {

bool noReplace(const std::string&, const std::string&) { return false; }

struct ScriptedHost : ToolHost {
    bool pathReadable = true;
    std::string path = "C:\\Program Files\\TI";
    unsigned result = 33;
    std::vector<std::string> started, told;
    std::function<void()> onStart;
    bool readToolPath(const std::string&, std::string& out) override {
        out = path;
        return pathReadable;
    }
    unsigned startHidden(const std::string& commandLine) override {
        started.push_back(commandLine);
        if (onStart) onStart();
        return result;
    }
    void tellOperator(const std::string& text) override { told.push_back(text); }
};

struct Launch {
    test::TempDir dir;
    IniProfile profile{dir.write("setup.ini", "[Environment]\r\nTiApp_register_path=SOFTWARE\\TI\r\nTiApp_filename=TIApp.exe\r\n"),
                       &noReplace};
    test::RecordingConsole console;
    RunFlags flags;
    test::RecordingPause pause;
    StationContext context{console, profile, dir.file("setup.ini"), 500, flags, pause};
    test::MemoryDesktop desktop;
    test::MemoryDeviceTree devices;
    ScriptedHost host;
    ToolHandles handles;
    ToolLauncher launcher{context, host, desktop, devices, handles};
};

TEST(ToolLauncher, TheStartsResultsAndTheirMessages) {
    const struct {
        unsigned result;
        int counts;
        const char* message;
    } cases[] = {
        {0, 0, "Call TI App: The system is out of memory or resources."},
        {2, 0, "Call TI App: The specified file was not found."},
        {3, 0, "The specified path was not found."},
        {11, 0, "Call TI App: The .EXE file is invalid (non-Win32 .EXE or error in .EXE image)."},
        {1, 1, nullptr}, {4, 1, nullptr}, {10, 1, nullptr}, {12, 1, nullptr}, {33, 1, nullptr},
    };
    for (const auto& c : cases) {
        Launch l;
        l.host.result = c.result;
        EXPECT_EQ(l.launcher.startToolProcess("SOFTWARE\\TI", "TIApp.exe"), c.counts) << c.result;
        EXPECT_EQ(l.host.started, std::vector<std::string>{"C:\\Program Files\\TITIApp.exe"})
            << "joined without a separator";
        EXPECT_EQ(l.host.told, c.message ? std::vector<std::string>{c.message} : std::vector<std::string>{}) << c.result;
    }
    Launch unreadable;
    unreadable.host.pathReadable = false;
    EXPECT_EQ(unreadable.launcher.startToolProcess("SOFTWARE\\TI", "TIApp.exe"), 0);
    EXPECT_TRUE(unreadable.host.started.empty());
    EXPECT_TRUE(unreadable.host.told.empty()) << "no message for a missing registry entry";

    Launch tooLong;
    tooLong.host.path = std::string(251, 'p');  // 260 characters with the file name
    EXPECT_EQ(tooLong.launcher.startToolProcess("SOFTWARE\\TI", "TIApp.exe"), 0);
    EXPECT_TRUE(tooLong.host.started.empty()) << "a cut command line is never started";
    ASSERT_EQ(tooLong.host.told.size(), 1u);
}

TEST(ToolLauncher, LaunchFindsTheWindowAndItsPage) {
    Launch l;
    l.host.onStart = [&] {
        const WindowHandle window = l.desktop.addWithChildren(l.desktop.root, toolWindowSignature);
        l.desktop.addWithChildren(window, toolPageSignature);
    };
    const WindowHandle window = l.launcher.launchTool(5);
    ASSERT_NE(window, 0u);
    EXPECT_EQ(l.handles.toolWindow, window);
    EXPECT_EQ(l.handles.toolPage, l.desktop.last(l.desktop.firstChild(window))) << "the page, the last child";
    EXPECT_EQ(l.desktop.events.front().what, "show 5");
    EXPECT_TRUE(l.console.log().empty());
}

TEST(ToolLauncher, LaunchFailuresAndARunningTool) {
    {
        Launch l;
        l.dir.write("setup.ini", "[Environment]\r\nTiApp_filename=TIApp.exe\r\n");
        EXPECT_EQ(l.launcher.launchTool(5), 0u);
        EXPECT_EQ(l.console.log(), std::vector<std::string>{"Error to load \"TiApp_register_path\" from \"" +
                                                            l.dir.file("setup.ini") + "\""});
    }
    {
        Launch l;
        l.dir.write("setup.ini", "[Environment]\r\nTiApp_register_path=SOFTWARE\\TI\r\n");
        EXPECT_EQ(l.launcher.launchTool(5), 0u);
        EXPECT_EQ(l.console.log().back(), "Error to load \"TiApp_filename\" from \"" + l.dir.file("setup.ini") + "\"");
    }
    {
        Launch l;
        l.handles = {77, 78};
        EXPECT_EQ(l.launcher.launchTool(5), 0u);
        EXPECT_EQ(l.console.log(), std::vector<std::string>{"can NOT launch TI App, please install TI App inadvance"});
        EXPECT_EQ(l.handles.toolWindow, 77u) << "the handles keep their values";
        EXPECT_EQ(l.handles.toolPage, 78u);
    }
    {
        // The registry read fails, but a tool is already running: it is used.
        Launch l;
        l.host.pathReadable = false;
        const WindowHandle running = l.desktop.addWithChildren(l.desktop.root, toolWindowSignature);
        EXPECT_EQ(l.launcher.launchTool(5), running);
        EXPECT_EQ(l.handles.toolPage, 0u) << "a window without its page leaves toolPage empty";
    }
}

}  // namespace
}  // namespace vornix
