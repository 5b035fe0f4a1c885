#pragma once

#include <string>

#include "automation/ToolLauncher.h"
#include "link/EchoPort.h"
#include "link/TelnetChannel.h"
#include "station/StationContext.h"

namespace vornix {

// The third stage: sets the router's boot configuration over telnet and
// reboots it, then drives the flashing tool through its windows to load the
// firmware image.
class FirmwareUpdater {
public:
    // stationDirectory: where "7200\script.txt" and
    // "app_firmware\nsp.firmware.img" lie (the current directory).
    FirmwareUpdater(StationContext& context, EchoPort& echo, ToolLauncher& launcher, WindowSystem& windows,
                    ToolHandles& handles, std::string stationDirectory)
        : context_(context), echo_(echo), launcher_(launcher), windows_(windows), handles_(handles),
          directory_(std::move(stationDirectory)) {}

    int run();

private:
    int fail(const std::string& line);
    void log(const std::string& line) { context_.console.appendLog(line.substr(0, 1023)); }
    void pause(int ms) { context_.pause.sleepMs(ms); }
    void press(WindowHandle window, int id);
    bool loggedIn();
    void loginThroughTool(const std::string& address);

    StationContext& context_;
    EchoPort& echo_;
    ToolLauncher& launcher_;
    WindowSystem& windows_;
    ToolHandles& handles_;
    std::string directory_;
    TelnetChannel channel_;
    bool channelOpen_ = false;
};

}  // namespace vornix
