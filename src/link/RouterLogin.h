#pragma once

#include "config/Profile.h"
#include "link/Pacer.h"
#include "link/TelnetChannel.h"
#include "station/Pause.h"

namespace vornix {

// Takes a freshly connected channel from the router's login prompt to a
// shell in /proc/ticfg and proves the environment is readable. Logs nothing;
// the channel stays open whatever happens.
class RouterLogin {
public:
    // pacer: how the waits end; none, fixed pacing.
    RouterLogin(Profile& profile, int telnetWait, Pause& pause, Pacer* pacer = nullptr)
        : profile_(profile), telnetWait_(telnetWait), fixed_(pause, false), pacer_(pacer ? *pacer : fixed_) {}

    // 1 when "bootloaderVersion" showed in the environment listing. 0 when the
    // user name or password begins with "NULL", no "Password" prompt came,
    // or the listing lacked "bootloaderVersion".
    int login(TelnetChannel& channel);

private:
    // One collectFor of TelnetWait, then a search of the whole capture.
    bool attempt(TelnetChannel& channel, const char* text, bool learnPrompt = false);

    Profile& profile_;
    int telnetWait_;
    Pacer fixed_;
    Pacer& pacer_;
};

}  // namespace vornix
