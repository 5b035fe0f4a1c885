#pragma once

#include <string>

#include "automation/ToolLauncher.h"
#include "link/EchoPort.h"
#include "station/StationContext.h"

namespace vornix {

class StageRun;

// The third stage: sets the router's boot configuration over telnet and
// reboots it, then drives the flashing tool through its windows to load the
// firmware image.
class FirmwareUpdater {
public:
    // stationDirectory: where "7200\script.txt" and
    // "app_firmware\nsp.firmware.img" lie (the current directory).
    FirmwareUpdater(StationContext& context, EchoPort& echo, ToolLauncher& launcher, WindowSystem& windows,
                    ToolHandles& handles, std::string stationDirectory)
        : context_(context), echo_(echo), launcher_(launcher), windows_(windows), finder_(windows, context.pause),
          handles_(handles), directory_(std::move(stationDirectory)) {}

    int run();

    // How long the stage looks for a dialog that a press opens: the press is
    // posted, and the tool opens the dialog when it gets to it.
    static constexpr int dialogWaitMs = 3000;

private:
    // The steps; each returns false once it has failed the stage.
    bool setBootConfiguration(StageRun& run, const std::string& address, bool& formatMode);
    bool logInThroughTool(StageRun& run, const std::string& address);
    bool loadScript(StageRun& run);
    bool enterBootConfiguration(StageRun& run);
    bool loadImage(StageRun& run);
    int awaitNoticeAndClose(StageRun& run);

    bool typeAddressAndLogIn(StageRun& run, const std::string& address);
    // The dialog a press has just asked for, looked for until it comes or
    // dialogWaitMs have passed; 0 then.
    WindowHandle awaitDialog(const ControlSignature& signature);
    void press(WindowHandle window, int id);
    bool setText(StageRun& run, WindowHandle window, int id, const std::string& text);
    bool selectSecondItem(StageRun& run, WindowHandle window, int listId);
    // A dialog that never came: what the stage opened is closed, and the
    // stage fails with a line that names the dialog.
    bool missing(StageRun& run, const std::string& dialog, WindowHandle openDialog = 0);
    bool notResponding(StageRun& run);
    void quitTool();

    StationContext& context_;
    EchoPort& echo_;
    ToolLauncher& launcher_;
    WindowSystem& windows_;
    WindowFinder finder_;
    ToolHandles& handles_;
    std::string directory_;
};

}  // namespace vornix
