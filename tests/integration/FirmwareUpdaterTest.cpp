// The firmware stage: its telnet part against the simulated router, its
// flashing-tool part against an in-memory tool that shows the tool's windows
// and reacts to presses as the vendor's tool does.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "RouterSim.h"
#include "automation/ToolLauncher.h"
#include "config/IniProfile.h"
#include "link/TelnetChannel.h"
#include "procedures/FirmwareUpdater.h"
#include "support/MemoryDesktop.h"
#include "support/MemoryDeviceTree.h"
#include "support/RecordingConsole.h"
#include "support/TempDir.h"

namespace vornix {
namespace {

bool noReplace(const std::string&, const std::string&) { return false; }

// The login's 100 ms sleeps are real (the router's answers must come after
// them); every other pause is only recorded.
struct ToolPause : Pause {
    std::mutex mutex;
    std::vector<int> pauses;
    std::function<void(int)> passed;  // the tool's clock runs on the station's pauses
    void sleepMs(int ms) override {
        {
            std::lock_guard<std::mutex> lock(mutex);
            pauses.push_back(ms);
        }
        if (passed) passed(ms);
        if (ms == 100) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
};

struct NoEcho : EchoPort {
    int flushes = 0;
    bool load() override { return false; }
    EchoReply echo(const std::string&, int, int, const std::string&) override { return {}; }
    void flushArp() override { ++flushes; }
};

// The vendor's tool, in memory: started through the host, it puts up its
// window and page; the login press fills list 1012 when it is let log in;
// its buttons open the dialogs the station drives.
struct FakeTool : ToolHost {
    test::MemoryDesktop& desktop;
    bool canLogin = true;
    bool noticeComes = true;
    bool hasPage = true;
    bool hasWindow = true;
    bool hangs = false;       // from its start: no sent message is answered
    int lateMs = 0;           // its dialogs open this long after the press
    std::vector<int> never;   // presses of these controls open no dialog
    std::vector<std::string> started, told;
    WindowHandle window = 0, page = 0;
    int elapsedMs = 0;
    std::vector<std::pair<int, std::vector<int>>> opening;  // due time, the dialog's child ids
    explicit FakeTool(test::MemoryDesktop& d) : desktop(d) {
        desktop.onPost = [this](WindowHandle control, unsigned message) { posted(control, message); };
    }
    bool readToolPath(const std::string& key, std::string& path) override {
        if (key != "SOFTWARE\\TI\\App") return false;
        path = "C:\\TI\\";
        return true;
    }
    unsigned startHidden(const std::string& commandLine) override {
        started.push_back(commandLine);
        desktop.hung = hangs;
        if (!hasWindow) return 33;
        window = desktop.addWithChildren(desktop.root, {0, 1, 2, 12321, 9, 12320});
        if (hasPage)
            page = desktop.addWithChildren(window, {1000, 1001, 1002, 1003, 1004, 1005, 1006, 1008, 1012, 1013, 1016,
                                                    1017, 1018, 1022, 1023});
        return 33;
    }
    void tellOperator(const std::string& text) override { told.push_back(text); }

    WindowHandle item(WindowHandle parent, int id) { return desktop.dialogItem(parent, id); }
    // A dialog the press of control `by` opens, now or lateMs later, or never.
    void open(int by, std::vector<int> ids) {
        if (std::find(never.begin(), never.end(), by) != never.end()) return;
        opening.emplace_back(elapsedMs + lateMs, std::move(ids));
        passed(0);
    }
    void passed(int ms) {
        elapsedMs += ms;
        for (auto it = opening.begin(); it != opening.end();) {
            if (it->first > elapsedMs) {
                ++it;
                continue;
            }
            desktop.addWithChildren(desktop.root, it->second);
            it = opening.erase(it);
        }
    }
    void posted(WindowHandle control, unsigned message) {
        if (message == messageQuit) {
            desktop.remove(control);
            return;
        }
        if (message != messageKeyUp) return;
        const WindowHandle parent = desktop.parentOf(control);
        const int id = desktop.controlId(control);
        if (parent == page && id == 1003 && canLogin)
            desktop.setItems(item(page, 1012), {"Configuration (router)", "BOOTCFG"});
        if (parent == page && (id == 1022 || id == 1017))
            open(id, {1091, 1137, 1088, 1120, 1121, 1090, 1152, 1089, 1136, 1, 2});
        if (parent == page && id == 1013) open(id, {1026, 1027, 1028, 1029, 2});
        if (id == 1027) open(id, {1030, 1031, 1032, 1033, 1, 2});
        if (id == 1 && desktop.controlId(desktop.firstChild(parent)) == 1091) {
            desktop.remove(parent);  // the file dialog accepted its file
        }
        if (parent == page && id == 1017 && noticeComes) desktop.addWithChildren(desktop.root, {2, 20});
    }
};

struct FirmwareRun {
    int result = -1;
    std::vector<std::string> log, texts, started;
    std::vector<int> pauses;
    std::string received;
    int busy = -1, succeeded = -1;
    std::vector<test::MemoryDesktop::Event> events;
    WindowHandle toolWindow = 0;
};

// Each test has a router address of its own: tests run side by side.
std::string setupFor(const std::string& address, const std::string& chip, const std::string& format) {
    return "[Environment]\r\nTiApp_register_path=SOFTWARE\\TI\\App\r\nTiApp_filename=TIApp.exe\r\n"
           "[SETUP]\r\nCPE_LAN_IP=" + address + "\r\nTelnet Username=admin\r\nTelnet Password=admin\r\nCHIP=" +
           chip + "\r\nENV_PATH=/proc/ticfg/env\r\n[7200]\r\nformat_mtd3=" + format + "\r\n";
}

FirmwareRun runFirmware(const std::string& address, const std::string& setup,
                        std::function<void(FakeTool&)> configure = {}) {
    test::TempDir dir;
    routersim::Options options;
    options.address = address;
    routersim::RouterSim router(options);
    std::string error;
    EXPECT_TRUE(router.start(&error)) << error;
    IniProfile profile(dir.write("setup.ini", setup), &noReplace);
    test::RecordingConsole console;
    RunFlags flags;
    ToolPause pause;
    StationContext context{console, profile, dir.file("setup.ini"), 250, flags, pause};
    test::MemoryDesktop desktop;
    test::MemoryDeviceTree devices;
    FakeTool tool(desktop);
    if (configure) configure(tool);
    pause.passed = [&tool](int ms) { tool.passed(ms); };
    ToolHandles handles;
    ToolLauncher launcher(context, tool, desktop, devices, handles);
    NoEcho echo;
    FirmwareRun run;
    run.result = FirmwareUpdater(context, echo, launcher, desktop, handles, "C:\\station").run();
    EXPECT_TRUE(awaitCollectors(3000));
    router.stop();
    run.log = console.log();
    for (const auto& e : desktop.events)
        if (e.what.rfind("text ", 0) == 0 || e.what.rfind("select ", 0) == 0) run.texts.push_back(e.what);
    run.started = tool.started;
    run.pauses = pause.pauses;
    if (!router.received().empty()) run.received = router.received().front();
    run.events = desktop.events;
    run.toolWindow = tool.window;
    for (const auto& e : desktop.events) EXPECT_NE(e.window, 0u) << "nothing goes to a window never found: " << e.what;
    run.busy = flags.firmwareBusy;
    run.succeeded = flags.firmwareSucceeded;
    EXPECT_TRUE(console.startEnabled());
    EXPECT_EQ(run.busy, 0);
    EXPECT_EQ(echo.flushes, run.result >= 0 && run.received.find("reboot") != std::string::npos ? 1 : 0);
    return run;
}

const std::string login = "admin\r\nadmin\r\ncd /proc/ticfg\r\nls env\r\ncat env\r\n";

// The procedure's own pauses from the environment command on: the login's
// sleeps come before it, the window searches' 1 and 20 ms are not its own.
int procedurePauses(const std::vector<int>& pauses) {
    const auto at = std::find(pauses.begin(), pauses.end(), 2000);
    int total = 0;
    for (auto it = at - 2; it != pauses.end(); ++it)
        if (*it != 1 && *it != 20) total += *it;
    return total;
}

TEST(FirmwareUpdater, FormatVariantThroughTheTool) {
    const FirmwareRun run = runFirmware("127.0.0.141", setupFor("127.0.0.141", "7200XYZ", "TRUE1"));
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(run.received, login + "echo format_mtd3 1 > /proc/ticfg/env\r\nreboot\r\n");
    EXPECT_EQ(run.log, (std::vector<std::string>{"", "-----Firmware Update-----", "process login procedure .....",
                                                 "7200 : Format MTD3 .....", "rebooting .....",
                                                 "Try to login by TI App .....", "Updating Firmware .....",
                                                 "Update Firmware finish.", "--------------------------------", "",
                                                 ""}));
    EXPECT_EQ(run.started, std::vector<std::string>{"C:\\TI\\TIApp.exe"});
    EXPECT_EQ(run.texts, (std::vector<std::string>{"text 127.0.0.141", "text C:\\station\\7200\\script.txt",
                                                   "select 1", "text C:\\station\\app_firmware\\nsp.firmware.img"}))
        << "address, script, list 1016 item 1, image";
    EXPECT_EQ(procedurePauses(run.pauses), 9600) << "the format variant's pauses";
    EXPECT_EQ(run.succeeded, 1);
}

TEST(FirmwareUpdater, PlainVariantEntersBootcfg) {
    const FirmwareRun run = runFirmware("127.0.0.142", setupFor("127.0.0.142", "7300a", "TRUE"));
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(run.received, login + "echo BOOTCFG > /proc/ticfg/env\r\nreboot\r\n");
    EXPECT_EQ(std::count(run.log.begin(), run.log.end(), "7200 : Format MTD3 ....."), 0);
    EXPECT_EQ(run.texts, (std::vector<std::string>{"text 127.0.0.142", "select 1", "text BOOTCFG",
                                                   "text m:f:\"mtd1\"", "select 1",
                                                   "text C:\\station\\app_firmware\\nsp.firmware.img"}));
    EXPECT_EQ(procedurePauses(run.pauses), 10200) << "the plain variant's pauses";

    const FirmwareRun notTrue = runFirmware("127.0.0.142", setupFor("127.0.0.142", "7200", "false"));
    EXPECT_EQ(notTrue.received, login + "echo BOOTCFG > /proc/ticfg/env\r\nreboot\r\n");
}

TEST(FirmwareUpdater, FiveRestartsThenTheLoginFails) {
    const FirmwareRun run = runFirmware("127.0.0.143", setupFor("127.0.0.143", "7200", "TRUE"), [](FakeTool& tool) { tool.canLogin = false; });
    EXPECT_EQ(run.result, 0);
    const std::vector<std::string> tail(run.log.end() - 6, run.log.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"restart TI App! ( 1 times )", "restart TI App! ( 2 times )",
                                              "restart TI App! ( 3 times )", "restart TI App! ( 4 times )",
                                              "restart TI App! ( 5 times )", "Can't login Router by TI App!"}));
    EXPECT_EQ(run.started.size(), 6u) << "the tool is started at most six times";
    EXPECT_EQ(run.succeeded, 0);
}

TEST(FirmwareUpdater, WithoutItsPageTheToolCannotLogIn) {
    const FirmwareRun run = runFirmware("127.0.0.144", setupFor("127.0.0.144", "7300A", "x"), [](FakeTool& tool) { tool.hasPage = false; });
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.log.back(), "Can't login Router by TI App!");
    EXPECT_EQ(run.started.size(), 6u);
    EXPECT_TRUE(run.texts.empty()) << "nothing reaches a page that is not there";
}

TEST(FirmwareUpdater, ANoticeThatNeverComes) {
    const FirmwareRun run = runFirmware("127.0.0.145", setupFor("127.0.0.145", "7300A", "x"), [](FakeTool& tool) { tool.noticeComes = false; });
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.log.back(), "Not Found Notice Dialog!");
    EXPECT_EQ(std::count(run.pauses.begin(), run.pauses.end(), 50), 1200);
}

TEST(FirmwareUpdater, ChipAndKeyFailures) {
    const struct {
        std::string setup;
        const char* line;
    } cases[] = {
        {setupFor("127.0.0.146", "7300", "TRUE"), "CHIP is NOT correct!"},
        {setupFor("127.0.0.146", "NULL", "TRUE"), "Can't read CHIP"},
        {setupFor("127.0.0.146", "7200", "null"), "Can't read 7200->format_mtd3"},
    };
    for (const auto& c : cases) {
        const FirmwareRun run = runFirmware("127.0.0.146", c.setup);
        EXPECT_EQ(run.result, 0) << c.line;
        EXPECT_EQ(run.log.back(), c.line);
        EXPECT_EQ(run.received, login) << c.line << ": nothing written, no reboot";
    }
}

// A tool that takes its time opening dialogs is waited for: the same run,
// the same texts and the same log as with a quick one.
TEST(FirmwareUpdater, DialogsThatOpenLateAreWaitedFor) {
    for (const char* chip : {"7200", "7300A"}) {
        const FirmwareRun quick = runFirmware("127.0.0.147", setupFor("127.0.0.147", chip, "TRUE"));
        const FirmwareRun slow = runFirmware("127.0.0.147", setupFor("127.0.0.147", chip, "TRUE"),
                                             [](FakeTool& tool) { tool.lateMs = 800; });
        EXPECT_EQ(slow.result, 1) << chip;
        EXPECT_EQ(slow.log, quick.log) << chip;
        EXPECT_EQ(slow.texts, quick.texts) << chip;
    }
}

// A dialog that never comes fails the stage with a line that names it; the
// tool is told to quit, and the update is never reported finished.
TEST(FirmwareUpdater, ADialogThatNeverOpensFailsTheStage) {
    const struct {
        const char* chip;
        int never;
        const char* line;
    } cases[] = {
        {"7200", 1022, "Not Found File Open Dialog!"},
        {"7300A", 1013, "Not Found Entry Dialog!"},
        {"7300A", 1027, "Not Found Entry Edit Dialog!"},
        {"7300A", 1017, "Not Found File Open Dialog!"},
    };
    for (const auto& c : cases) {
        const FirmwareRun run = runFirmware("127.0.0.148", setupFor("127.0.0.148", c.chip, "TRUE"),
                                            [&](FakeTool& tool) { tool.never = {c.never}; });
        EXPECT_EQ(run.result, 0) << c.line;
        EXPECT_EQ(run.log.back(), c.line);
        EXPECT_EQ(std::count(run.log.begin(), run.log.end(), "Update Firmware finish."), 0) << c.line;
        EXPECT_EQ(run.events.back(), (test::MemoryDesktop::Event{run.toolWindow, "post 18 0 0"})) << c.line;
        EXPECT_EQ(run.succeeded, 0) << c.line;
    }
}

TEST(FirmwareUpdater, AToolThatHangsFailsTheStage) {
    const FirmwareRun run = runFirmware("127.0.0.149", setupFor("127.0.0.149", "7300A", "x"),
                                        [](FakeTool& tool) { tool.hangs = true; });
    EXPECT_EQ(run.result, 0);
    const std::vector<std::string> tail(run.log.end() - 2, run.log.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"Try to login by TI App .....", "TI App is not responding!"}));
}

// No tool window at all: the restarts and the failure reach no window.
TEST(FirmwareUpdater, NoToolAtAll) {
    const FirmwareRun run = runFirmware("127.0.0.150", setupFor("127.0.0.150", "7300A", "x"),
                                        [](FakeTool& tool) { tool.hasWindow = false; });
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.log.back(), "Can't login Router by TI App!");
    EXPECT_EQ(std::count(run.log.begin(), run.log.end(), "can NOT launch TI App, please install TI App inadvance"), 6);
}

}  // namespace
}  // namespace vornix
