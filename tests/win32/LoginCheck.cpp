// Test helper: the Windows build's login against a router on the network.
// Usage: login_check HOST — reads the account from setup.ini in the current
// directory; prints "login 1" or "login 0" and exits 0 or 1 accordingly.
#include <windows.h>

#include <cstdio>
#include <string>

#include "config/StationConfig.h"
#include "link/RouterLogin.h"
#include "link/TelnetChannel.h"
#include "platform/Adapters.h"
#include "platform/CurrentDirectory.h"
#include "platform/win32/Win32Profile.h"
#include "station/StationStart.h"

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const auto settings = vornix::fixStationSettings(vornix::platform::currentDirectory(), '\\',
                                                     &vornix::platform::makeProfile);
    if (!settings) return 2;
    vornix::platform::Win32Profile profile(settings->configPath);
    vornix::RealPause pause;
    vornix::TelnetChannel channel;
    int result = 0;
    if (channel.connect(argv[1], 23)) result = vornix::RouterLogin(profile, settings->telnetWait, pause).login(channel);
    channel.close();
    // Collectors end with the connection: let them, before the process ends.
    vornix::awaitCollectors(2000);
    std::printf("login %d\n", result);
    return result == 1 ? 0 : 1;
}
