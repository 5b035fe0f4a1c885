#include "procedures/FirmwareUpdater.h"

#include "config/ConfigKeys.h"
#include "procedures/StageRun.h"

namespace vornix {

namespace {

// The flashing tool's controls that the stage works, by their ids.
namespace control {
constexpr int ok = 1;
constexpr int cancel = 2;
// ToolPage
constexpr int routerAddress = 1002;
constexpr int logIn = 1003;
constexpr int imageMode = 1008;
constexpr int statusList = 1012;  // item 0 tells whether the tool is logged in
constexpr int editEntries = 1013;
constexpr int imageList = 1016;
constexpr int chooseImage = 1017;
constexpr int finishUpdate = 1018;
constexpr int chooseScript = 1022;
constexpr int loadScript = 1023;
// EntryDialog and EntryEditDialog
constexpr int editEntry = 1027;
constexpr int entryName = 1031;
constexpr int entryValue = 1033;
// FileOpenDialog
constexpr int fileName = 1152;
}  // namespace control

// The tool's dialogs, known by the ids of their children.
const ControlSignature fileOpenDialog = {1091, 1137, 1088, 1120, 1121, 1090, 1152, 1089, 1136};
const ControlSignature entryDialog = {1026, 1027, 1028, 1029, 2};
const ControlSignature entryEditDialog = {1030, 1031, 1032, 1033, 1, 2};
const ControlSignature noticeDialog = {2, 20};

constexpr int showWindow = 5;  // SW_SHOW

}  // namespace

int FirmwareUpdater::run() {
    StageRun run(context_, Stage::FirmwareUpdate);
    run.log("");
    run.log("-----Firmware Update-----");
    const ConfigValue address = run.config().read(keys::cpeLanIp);
    if (address.missing) return run.fail("Can't read CPE_LAN_IP");
    bool formatMode = false;
    if (!setBootConfiguration(run, address.text, formatMode)) return 0;
    if (!logInThroughTool(run, address.text)) return 0;
    if (!(formatMode ? loadScript(run) : enterBootConfiguration(run))) return 0;
    if (!loadImage(run)) return 0;
    return awaitNoticeAndClose(run);
}

// Over telnet: the boot configuration into the environment file, then a reboot.
bool FirmwareUpdater::setBootConfiguration(StageRun& run, const std::string& address, bool& formatMode) {
    const StationConfig& config = run.config();
    run.log("process login procedure .....");
    if (!run.openRouter(address, "Can't telnet router!", "Can't login router!")) return false;
    const ConfigValue chip = config.read(keys::chip);
    if (chip.missing) return run.fail("Can't read CHIP");
    if (!chipAccepted(chip.text)) return run.fail("CHIP is NOT correct!");
    if (chipIs7200(chip.text)) {
        const ConfigValue format = config.read(keys::formatMtd3);
        if (format.missing) return run.fail("Can't read 7200->format_mtd3");
        formatMode = formatMtd3Enabled(format.text);
    }
    const ConfigValue envPath = config.read(keys::envPath);
    if (envPath.missing) return run.fail("Can't read ENV_PATH");
    context_.note([&](RunRecord& record) { record.firmwareVariant(formatMode ? "format" : "plain"); });
    if (formatMode) run.log("7200 : Format MTD3 .....");
    if (!run.sendCommand((formatMode ? "echo format_mtd3 1 > " : "echo BOOTCFG > ") + envPath.text + "\r\n"))
        return false;
    run.pause(100);
    run.log("rebooting .....");
    run.sendCommand("reboot\r\n");
    run.pause(100);
    run.closeRouter();
    echo_.flushArp();
    run.pause(2000);
    return true;
}

// The tool logs in to the rebooted router; up to five restarts of the tool.
bool FirmwareUpdater::logInThroughTool(StageRun& run, const std::string& address) {
    launcher_.launchTool(showWindow);
    run.log("Try to login by TI App .....");
    run.pause(300);
    if (!typeAddressAndLogIn(run, address)) return false;
    for (int restart = 1;; ++restart) {
        const WindowHandle list = handles_.toolPage ? windows_.dialogItem(handles_.toolPage, control::statusList) : 0;
        const std::optional<std::string> status = windows_.listText(list, 0);
        if (!status) return notResponding(run);
        if (startsWithNoCase(status->substr(0, 1023), "Configuration")) break;
        if (restart > 5) {
            quitTool();
            return run.fail("Can't login Router by TI App!");
        }
        run.log("restart TI App! ( " + std::to_string(restart) + " times )");
        quitTool();
        run.pause(200);
        launcher_.launchTool(showWindow);
        run.pause(300);
        if (!typeAddressAndLogIn(run, address)) return false;
    }
    run.pause(300);
    return true;
}

bool FirmwareUpdater::typeAddressAndLogIn(StageRun& run, const std::string& address) {
    if (!setText(run, handles_.toolPage, control::routerAddress, address)) return false;
    run.pause(300);
    press(handles_.toolPage, control::logIn);
    run.pause(2000);
    return true;
}

// Format variant: the tool gets the formatting script.
bool FirmwareUpdater::loadScript(StageRun& run) {
    const WindowHandle page = handles_.toolPage;
    press(page, control::chooseScript);
    const WindowHandle open = awaitDialog(fileOpenDialog);
    if (!open) return missing(run, "File Open Dialog");
    if (!setText(run, open, control::fileName, directory_ + "\\7200\\script.txt")) return false;
    run.pause(300);
    press(open, control::ok);
    run.pause(300);
    press(page, control::loadScript);
    run.pause(300);
    return true;
}

// Plain variant: BOOTCFG entered through the tool's two entry dialogs.
bool FirmwareUpdater::enterBootConfiguration(StageRun& run) {
    const WindowHandle page = handles_.toolPage;
    if (!selectSecondItem(run, page, control::statusList)) return false;
    run.pause(300);
    press(page, control::editEntries);
    run.pause(300);
    const WindowHandle entry = awaitDialog(entryDialog);
    if (!entry) return missing(run, "Entry Dialog");
    press(entry, control::editEntry);
    run.pause(300);
    const WindowHandle edit = awaitDialog(entryEditDialog);
    if (!edit) return missing(run, "Entry Edit Dialog", entry);
    if (!setText(run, edit, control::entryName, "BOOTCFG") || !setText(run, edit, control::entryValue, "m:f:\"mtd1\""))
        return false;
    press(edit, control::ok);
    run.pause(300);
    press(entry, control::cancel);
    run.pause(300);
    return true;
}

// Both variants: the firmware image goes to the tool.
bool FirmwareUpdater::loadImage(StageRun& run) {
    const WindowHandle page = handles_.toolPage;
    press(page, control::imageMode);
    run.pause(300);
    if (!selectSecondItem(run, page, control::imageList)) return false;
    run.pause(300);
    press(page, control::chooseImage);
    run.pause(300);
    run.log("Updating Firmware .....");
    const WindowHandle open = awaitDialog(fileOpenDialog);
    if (!open) return missing(run, "File Open Dialog");
    if (!setText(run, open, control::fileName, directory_ + "\\app_firmware\\nsp.firmware.img")) return false;
    press(open, control::ok);
    run.pause(300);
    return true;
}

// The tool's notice that the image is loaded, for up to a minute; then the tool is closed.
int FirmwareUpdater::awaitNoticeAndClose(StageRun& run) {
    WindowHandle notice = 0;
    for (int attempt = 0; attempt < 1200 && !notice; ++attempt) {
        notice = finder_.findTopLevelWindow(noticeDialog);
        if (!notice) run.pause(50);
    }
    if (!notice) return run.fail("Not Found Notice Dialog!");  // the tool is left as it is
    press(notice, control::cancel);
    run.pause(300);
    press(handles_.toolPage, control::finishUpdate);
    run.pause(1500);
    press(handles_.toolWindow, control::ok);
    run.log("Update Firmware finish.");
    run.log("--------------------------------");
    run.log("");
    run.log("");
    run.pause(600);
    return run.end(true);
}

WindowHandle FirmwareUpdater::awaitDialog(const ControlSignature& signature) {
    WindowHandle found = finder_.findTopLevelWindow(signature);
    for (int waited = 0; !found && waited < dialogWaitMs; waited += 50) {
        context_.pause.sleepMs(50);
        found = finder_.findTopLevelWindow(signature);
    }
    return found;
}

void FirmwareUpdater::press(WindowHandle window, int id) {
    if (window) finder_.pressButton(windows_.dialogItem(window, id));
}

bool FirmwareUpdater::setText(StageRun& run, WindowHandle window, int id, const std::string& text) {
    return finder_.setControlText(window, id, text) || notResponding(run);
}

bool FirmwareUpdater::selectSecondItem(StageRun& run, WindowHandle window, int listId) {
    return windows_.listSelect(window ? windows_.dialogItem(window, listId) : 0, 1) || notResponding(run);
}

bool FirmwareUpdater::missing(StageRun& run, const std::string& dialog, WindowHandle openDialog) {
    press(openDialog, control::cancel);
    quitTool();
    return run.fail("Not Found " + dialog + "!");
}

bool FirmwareUpdater::notResponding(StageRun& run) {
    quitTool();
    return run.fail("TI App is not responding!");
}

void FirmwareUpdater::quitTool() {
    if (handles_.toolWindow) windows_.post(handles_.toolWindow, messageQuit, 0, 0);
}

}  // namespace vornix
