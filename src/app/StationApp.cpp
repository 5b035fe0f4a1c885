// vornix.exe: start-up of the station program.
#include <winsock2.h>
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <io.h>
#include <optional>
#include <string>
#include <vector>

#include "app/Gang.h"
#include "app/GangWindow.h"
#include "app/MainDialog.h"
#include "app/Station.h"
#include "app/resource.h"
#include "app/HeadlessConsole.h"
#include "platform/win32/AnsiText.h"

namespace {

std::vector<std::string> arguments() {
    std::vector<std::string> result;
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide) return result;
    for (int i = 0; i < count; ++i) result.push_back(vornix::platform::ansiFromWide(wide[i]));
    LocalFree(wide);
    return result;
}

// vornix.exe --gang-port K [--gang-run TAG] [--serial SN] [--mac] [--boot]: one port's run of the gang
// window, started by it, without a window: its log on standard output as
// vornix-cli writes it.
[[noreturn]] void runGangPort(const std::vector<std::string>& args, bool socketsStarted) {
    // A program without a console gets its output handle from its starter only.
    std::FILE* out = stdout;
    if (_fileno(stdout) < 0) {
        const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(GetStdHandle(STD_OUTPUT_HANDLE)), _O_WRONLY);
        if (fd >= 0) out = _fdopen(fd, "wb");
    }
    if (!out) ExitProcess(1);
    _setmode(_fileno(out), _O_BINARY);
    bool mac = false, boot = false;
    std::string gangRun, serial;
    for (std::size_t i = 3; i < args.size(); ++i) {
        if (args[i] == "--mac") mac = true;
        else if (args[i] == "--boot") boot = true;
        else if (args[i] == vornix::Gang::runArgument && i + 1 < args.size()) gangRun = args[++i];
        else if (args[i] == "--serial" && i + 1 < args.size()) serial = args[++i];
    }
    vornix::HeadlessConsole console(out, mac, boot, false);
    console.endWhenUnread(vornix::Gang::interruptedStatus);
    if (!socketsStarted) {
        console.appendLog("Windows sockets initialization failed.");
        ExitProcess(1);
    }
    char* end = nullptr;
    const long number = std::strtol(args[2].c_str(), &end, 10);
    if (*end != '\0' || number < 1 || number > vornix::maxPorts) {
        console.appendLog("Can't use port " + args[2] + ": a port number is 1 to " + std::to_string(vornix::maxPorts));
        ExitProcess(1);
    }
    vornix::Station::endProcess(vornix::Gang::runPort(static_cast<int>(number), console, gangRun, serial));
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    WSADATA sockets;
    const bool socketsStarted = WSAStartup(MAKEWORD(1, 1), &sockets) == 0;
    const bool socketsUsable = socketsStarted && sockets.wVersion == MAKEWORD(1, 1);
    const std::vector<std::string> args = arguments();
    if (args.size() >= 3 && args[1] == vornix::Gang::portArgument) runGangPort(args, socketsUsable);
    if (!socketsUsable) {
        if (socketsStarted) WSACleanup();
        char text[256] = "Windows sockets initialization failed.";
        LoadStringA(instance, IDP_SOCKETS_INIT_FAILED, text, sizeof text);
        MessageBoxA(nullptr, text, "Vornix", MB_OK | MB_ICONEXCLAMATION);
        return 1;
    }

    // setup.ini with a [GANG] section: the gang window instead of the dialog.
    if (vornix::Gang::configured()) {
        std::string why;
        const std::optional<std::vector<vornix::Gang::Port>> ports = vornix::Gang::ports(why);
        if (!ports) {
            const std::string text = "Vornix cannot run the gang station of setup.ini: " + why + ".";
            MessageBoxA(nullptr, text.c_str(), "Vornix", MB_OK | MB_ICONSTOP);
            ExitProcess(1);
        }
        // The tiles are sized from the screen's DPI, so the system must not scale them again.
        SetProcessDPIAware();
        vornix::GangWindow window(instance, *ports);
        window.run();
        // As the dialog: ExitProcess, not a return, for the window's destructor
        // would wait for a gang the operator chose to leave.
        ExitProcess(0);
    }

    vornix::MainDialog dialog(instance);
    dialog.run();

    // The program ends with the dialog; runs still going on worker threads
    // end with it, unwaited. ExitProcess rather than a return: the dialog's
    // destructor would wait for them.
    ExitProcess(0);
}
