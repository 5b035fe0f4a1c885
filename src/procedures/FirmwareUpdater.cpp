#include "procedures/FirmwareUpdater.h"

#include "config/ConfigKeys.h"
#include "config/StationConfig.h"
#include "link/RouterLogin.h"

namespace vornix {

namespace {

const ControlSignature fileOpenSignature = {1091, 1137, 1088, 1120, 1121, 1090, 1152, 1089, 1136};
const ControlSignature entrySignature = {1026, 1027, 1028, 1029, 2};
const ControlSignature entryEditSignature = {1030, 1031, 1032, 1033, 1, 2};
const ControlSignature noticeSignature = {2, 20};
constexpr int showWindow = 5;  // SW_SHOW

}  // namespace

int FirmwareUpdater::fail(const std::string& line) {
    log(line);
    if (channelOpen_) channel_.close();
    channelOpen_ = false;
    context_.console.enableStart(true);
    context_.flags.firmwareBusy = 0;
    return 0;
}

void FirmwareUpdater::press(WindowHandle window, int id) {
    WindowFinder(windows_, context_.pause).pressButton(window ? windows_.dialogItem(window, id) : 0);
}

bool FirmwareUpdater::loggedIn() {
    const WindowHandle list = handles_.toolPage ? windows_.dialogItem(handles_.toolPage, 1012) : 0;
    return startsWithNoCase(windows_.listText(list, 0).substr(0, 1023), "Configuration");
}

void FirmwareUpdater::loginThroughTool(const std::string& address) {
    WindowFinder(windows_, context_.pause).setControlText(handles_.toolPage, 1002, address);
    pause(300);
    press(handles_.toolPage, 1003);
    pause(2000);
}

int FirmwareUpdater::run() {
    context_.flags.firmwareBusy = 1;
    context_.flags.firmwareSucceeded = 0;
    log("");
    log("-----Firmware Update-----");
    const StationConfig config(context_.profile);
    const ConfigValue address = config.read(keys::cpeLanIp);
    if (address.missing) return fail("Can't read CPE_LAN_IP");
    log("process login procedure .....");
    channelOpen_ = true;  // a failed connect still holds a socket: close() releases it
    if (!channel_.connect(address.text, 23)) return fail("Can't telnet router!");
    if (!RouterLogin(context_.profile, context_.telnetWait, context_.pause).login(channel_))
        return fail("Can't login router!");

    const ConfigValue chip = config.read(keys::chip);
    if (chip.missing) return fail("Can't read CHIP");
    if (!chipAccepted(chip.text)) return fail("CHIP is NOT correct!");
    bool formatMode = false;
    if (chipIs7200(chip.text)) {
        const ConfigValue format = config.read(keys::formatMtd3);
        if (format.missing) return fail("Can't read 7200->format_mtd3");
        formatMode = formatMtd3Enabled(format.text);
    }
    const ConfigValue envPath = config.read(keys::envPath);
    if (envPath.missing) return fail("Can't read ENV_PATH");
    std::string command;
    if (formatMode) {
        log("7200 : Format MTD3 .....");
        command = "echo format_mtd3 1 > " + envPath.text + "\r\n";
    } else {
        command = "echo BOOTCFG > " + envPath.text + "\r\n";
    }
    if (command.size() > 1023) return fail("Command too long for the router (over 1023 characters): echo ...");
    channel_.send(command);
    pause(100);
    log("rebooting .....");
    channel_.send("reboot\r\n");
    pause(100);
    channel_.close();
    channelOpen_ = false;
    echo_.flushArp();
    pause(2000);

    launcher_.launchTool(showWindow);
    log("Try to login by TI App .....");
    pause(300);
    loginThroughTool(address.text);
    for (int restart = 1; !loggedIn(); ++restart) {
        if (restart > 5) {
            log("Can't login Router by TI App!");
            windows_.post(handles_.toolWindow, messageQuit, 0, 0);
            context_.console.enableStart(true);
            context_.flags.firmwareBusy = 0;
            return 0;
        }
        log("restart TI App! ( " + std::to_string(restart) + " times )");
        windows_.post(handles_.toolWindow, messageQuit, 0, 0);
        pause(200);
        launcher_.launchTool(showWindow);
        pause(300);
        loginThroughTool(address.text);
    }
    pause(300);

    WindowFinder finder(windows_, context_.pause);
    const WindowHandle page = handles_.toolPage;
    if (formatMode) {
        const std::string script = directory_ + "\\7200\\script.txt";
        press(page, 1022);
        // The press is posted: the tool opens its file dialog a moment later.
        // One search at once would race it, so it is looked for up to 3 s.
        WindowHandle open = 0;
        for (int attempt = 0; attempt < 60 && !open; ++attempt) {
            open = finder.findTopLevelWindow(fileOpenSignature);
            if (!open) pause(50);
        }
        finder.setControlText(open, 1152, script);
        pause(300);
        press(open, 1);
        pause(300);
        press(page, 1023);
        pause(300);
    } else {
        windows_.listSelect(page ? windows_.dialogItem(page, 1012) : 0, 1);
        pause(300);
        press(page, 1013);
        pause(300);
        const WindowHandle entry = finder.findTopLevelWindow(entrySignature);
        press(entry, 1027);
        pause(300);
        const WindowHandle edit = finder.findTopLevelWindow(entryEditSignature);
        finder.setControlText(edit, 1031, "BOOTCFG");
        finder.setControlText(edit, 1033, "m:f:\"mtd1\"");
        press(edit, 1);
        pause(300);
        press(entry, 2);
        pause(300);
    }

    press(page, 1008);
    pause(300);
    windows_.listSelect(page ? windows_.dialogItem(page, 1016) : 0, 1);
    pause(300);
    press(page, 1017);
    pause(300);
    log("Updating Firmware .....");
    const WindowHandle open = finder.findTopLevelWindow(fileOpenSignature);
    finder.setControlText(open, 1152, directory_ + "\\app_firmware\\nsp.firmware.img");
    press(open, 1);
    pause(300);

    WindowHandle notice = 0;
    for (int attempt = 0; attempt < 1200 && !notice; ++attempt) {
        notice = finder.findTopLevelWindow(noticeSignature);
        if (!notice) pause(50);
    }
    if (!notice) {
        log("Not Found Notice Dialog!");
        context_.console.enableStart(true);
        context_.flags.firmwareBusy = 0;
        return 0;
    }
    press(notice, 2);
    pause(300);
    press(page, 1018);
    pause(1500);
    press(handles_.toolWindow, 1);
    log("Update Firmware finish.");
    log("--------------------------------");
    log("");
    log("");
    pause(600);
    context_.console.enableStart(true);
    context_.flags.firmwareSucceeded = 1;
    context_.flags.firmwareBusy = 0;
    return 1;
}

}  // namespace vornix
