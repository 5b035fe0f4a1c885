#include "automation/ToolLauncher.h"

#include "automation/DevicePresenceWatcher.h"
#include "config/ConfigKeys.h"
#include "config/StationConfig.h"

namespace vornix {

int ToolLauncher::startToolProcess(const std::string& key, const std::string& fileName) {
    std::string path;
    if (!host_.readToolPath(key, path)) return 0;
    path = path.substr(0, path.find('\0')).substr(0, 259);
    const std::string commandLine = path + fileName;
    if (commandLine.size() > maxCommandLine) {
        // A cut command line would start some other program, or none.
        host_.tellOperator("Call TI App: the command line is longer than 259 characters: " + commandLine);
        return 0;
    }
    switch (host_.startHidden(commandLine)) {
    case 0: host_.tellOperator("Call TI App: The system is out of memory or resources."); return 0;
    case 2: host_.tellOperator("Call TI App: The specified file was not found."); return 0;
    case 3: host_.tellOperator("The specified path was not found."); return 0;
    case 11: host_.tellOperator("Call TI App: The .EXE file is invalid (non-Win32 .EXE or error in .EXE image)."); return 0;
    default: return 1;
    }
}

WindowHandle ToolLauncher::launchTool(int showCommand) {
    const StationConfig config(context_.profile);
    const ConfigValue key = config.read(keys::tiAppRegisterPath);
    if (key.missing) {
        context_.console.appendLog("Error to load \"TiApp_register_path\" from \"" + context_.configPath + "\"");
        return 0;
    }
    const ConfigValue fileName = config.read(keys::tiAppFilename);
    if (fileName.missing) {
        context_.console.appendLog("Error to load \"TiApp_filename\" from \"" + context_.configPath + "\"");
        return 0;
    }
    // A failed start still finds and uses a tool that is already running.
    startToolProcess(key.text, fileName.text);

    WindowFinder finder(windows_, context_.pause);
    const WindowHandle toolWindow = finder.findTopLevelWindow(toolWindowSignature);
    if (!toolWindow) {
        context_.console.appendLog("can NOT launch TI App, please install TI App inadvance");
        return 0;
    }
    windows_.show(toolWindow, showCommand);
    handles_.toolWindow = toolWindow;
    // The watcher serves this one search: it stops when the search is over,
    // and its event with it.
    RealPause polling;  // the watcher's own 10 ms polls, apart from the procedure's pacing
    DevicePresenceWatcher watcher(devices_, polling);
    const std::shared_ptr<PresenceEvent> present = watcher.presentEvent();
    handles_.toolPage = finder.findChildWindow(toolWindow, toolPageSignature, present.get());
    return toolWindow;
}

}  // namespace vornix
