// vornix-cli: the station run without the dialog. The stages are chosen with
// flags instead of check boxes; the run log goes to standard output, exactly
// as the dialog would show it, and diagnostics to standard error.
// Exit status: 0 when the router answered and every chosen stage succeeded,
// 1 otherwise, 2 for a usage error.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "app/RunSequencer.h"
#include "cli/HeadlessConsole.h"
#include "link/TelnetChannel.h"
#include "platform/CurrentDirectory.h"
#include "procedures/BootUpdater.h"
#include "procedures/MacWriter.h"
#include "station/StationStart.h"
#include "vornix/Version.h"
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>

#include "platform/win32/ConfigManagerTree.h"
#include "platform/win32/IcmpEcho.h"
#include "platform/win32/Win32Profile.h"
#include "platform/win32/Win32ToolHost.h"
#include "platform/win32/Win32Windows.h"
#include "procedures/FirmwareUpdater.h"
#else
#include "platform/posix/PosixProfile.h"
#include "platform/posix/SocketEcho.h"
#endif

namespace {

constexpr char usage[] =
    "usage: vornix-cli [--mac] [--boot] [--firmware]\n"
    "Prepares the router named in setup.ini (in the current directory), like a\n"
    "press of Start in the Vornix dialog with the chosen stages ticked.\n"
    "  --mac       MAC Writing: write and verify MAC addresses and environment\n"
    "  --boot      BOOT Code Update\n"
    "  --firmware  Firmware Update\n"
    "  --help      show this text\n"
    "  --version   show the program's version\n"
    "With no stage chosen, the run only checks that the router answers.\n"
    "The run log goes to standard output, one line per log line.\n"
    "Exit status: 0 when the router answered and every chosen stage succeeded,\n"
    "1 otherwise, 2 for a usage error.\n";

#ifdef _WIN32
using PlatformProfile = vornix::platform::Win32Profile;
using PlatformEcho = vornix::platform::IcmpEcho;
#else
using PlatformProfile = vornix::platform::PosixProfile;
using PlatformEcho = vornix::platform::SocketEcho;
#endif

// Ends the program without waiting for a probe that may still be waiting
// for a silent router: the run is over for the operator. Collectors end with
// their connections, which the stages have closed; they get a moment to, so
// that no thread is inside the socket library while the process goes.
[[noreturn]] void finish(int status) {
    for (int i = 0; i < 100 && vornix::runningCollectors() > 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(status);
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    // The same bytes on every platform: one "\n" after each log line.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    bool mac = false, boot = false, firmware = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--mac")) mac = true;
        else if (!std::strcmp(argv[i], "--boot")) boot = true;
        else if (!std::strcmp(argv[i], "--firmware")) firmware = true;
        else if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
            std::fputs(usage, stdout);
            return 0;
        } else if (!std::strcmp(argv[i], "--version")) {
            std::fputs("vornix-cli " VORNIX_VERSION "\n", stdout);
            return 0;
        } else {
            std::fprintf(stderr, "vornix-cli: unknown argument: %s\n%s", argv[i], usage);
            return 2;
        }
    }

    const auto directory = vornix::platform::currentDirectory();
    const auto settings = vornix::fixStationSettings(directory, vornix::platform::pathSeparator(),
                                                     [](const std::string& path) { return PlatformProfile(path); });
    if (!settings) {
        if (directory)
            std::fprintf(stderr,
                         "vornix-cli: cannot use setup.ini in %s: its full path would exceed %zu characters; "
                         "start the station from a shorter directory\n",
                         directory->c_str(), vornix::maxConfigPathLength);
        else
            std::fputs("vornix-cli: cannot read the current directory\n", stderr);
        return 1;
    }
    std::fprintf(stderr, "vornix-cli: setup.ini: %s; telnet wait %d ms\n", settings->configPath.c_str(),
                 settings->telnetWait);

    vornix::HeadlessConsole console(stdout, mac, boot, firmware);
    PlatformProfile profile(settings->configPath);
    PlatformEcho echo;
    vornix::RealPause pause;
    vornix::RunFlags flags;
    vornix::MacBlock macBlock;
    vornix::StationContext context{console, profile, settings->configPath, settings->telnetWait, flags, pause};
    vornix::RunSequencer::Stages stages;
    stages.macWriting = [&] { vornix::MacWriter(context, macBlock).run(); };
    stages.bootUpdate = [&] { vornix::BootUpdater(context, echo).run(); };
#ifdef _WIN32
    // The flashing tool is a Windows program: only the Windows build drives it.
    vornix::platform::Win32Windows windows;
    vornix::platform::Win32ToolHost toolHost;
    vornix::platform::ConfigManagerTree devices;
    vornix::ToolHandles toolHandles;
    const std::string stationDirectory = *directory;
    stages.firmwareUpdate = [&] {
        vornix::ToolLauncher launcher(context, toolHost, windows, devices, toolHandles);
        vornix::FirmwareUpdater(context, echo, launcher, windows, toolHandles, stationDirectory).run();
    };
#endif
    vornix::RunSequencer sequencer(context, echo, stages);

    sequencer.startPressed();
    sequencer.waitForRun();
    if (sequencer.lastRunMissedAStage())
        std::fputs("vornix-cli: the firmware update drives the Windows flashing tool: only vornix-cli.exe runs it\n",
                   stderr);
    finish(sequencer.lastRunSucceeded() ? 0 : 1);
}
