#pragma once

#include "config/Profile.h"
#include "link/TelnetChannel.h"
#include "station/Pause.h"

namespace vornix {

// Takes a freshly connected channel from the router's login prompt to a
// shell in /proc/ticfg and proves the environment is readable. Logs nothing;
// the channel stays open whatever happens.
class RouterLogin {
public:
    RouterLogin(Profile& profile, int telnetWait, Pause& pause)
        : profile_(profile), telnetWait_(telnetWait), pause_(pause) {}

    // 1 when "bootloaderVersion" showed in the environment listing. 0 when the
    // user name or password begins with "NULL", no "Password" prompt came,
    // or the listing lacked "bootloaderVersion".
    int login(TelnetChannel& channel);

private:
    // One collectFor of TelnetWait, then a search of the whole capture.
    bool attempt(TelnetChannel& channel, const char* text);

    Profile& profile_;
    int telnetWait_;
    Pause& pause_;
};

}  // namespace vornix
