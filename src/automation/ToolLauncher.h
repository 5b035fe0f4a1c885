#pragma once

#include <string>

#include "automation/DeviceTree.h"
#include "automation/ToolHost.h"
#include "automation/WindowFinder.h"
#include "station/StationContext.h"

namespace vornix {

// The flashing tool's windows as the last launch that found it left them.
struct ToolHandles {
    WindowHandle toolWindow = 0;
    WindowHandle toolPage = 0;
};

const ControlSignature toolWindowSignature = {0, 1, 2, 12321, 9, 12320};
const ControlSignature toolPageSignature = {1000, 1001, 1002, 1003, 1004, 1005, 1006};

// Starts the vendor's flashing tool ("TI App") and finds its windows.
class ToolLauncher {
public:
    ToolLauncher(StationContext& context, ToolHost& host, WindowSystem& windows, DeviceTree& devices,
                 ToolHandles& handles)
        : context_(context), host_(host), windows_(windows), devices_(devices), handles_(handles) {}

    // The registry's "Path" joined to the file name, started hidden. 1 when
    // the start counts as done; 0 after a failure the operator was told of
    // (or none, for a missing registry entry).
    int startToolProcess(const std::string& key, const std::string& fileName);
    // Starts the tool and finds ToolWindow (shown with showCommand) and its
    // ToolPage; the tool's window, or 0.
    WindowHandle launchTool(int showCommand);

    static constexpr std::size_t maxCommandLine = 259;

private:
    StationContext& context_;
    ToolHost& host_;
    WindowSystem& windows_;
    DeviceTree& devices_;
    ToolHandles& handles_;
};

}  // namespace vornix
