#pragma once

#include <optional>
#include <string>

#include "link/EchoPort.h"
#include "station/StationContext.h"

namespace vornix {

// The second stage: the router fetches the boot loader image from the
// station's FTP server, copies it onto its boot partition and reboots; the
// stage waits for it to answer again and checks the version it reports.
class BootUpdater {
public:
    BootUpdater(StationContext& context, EchoPort& echo) : context_(context), echo_(echo) {}

    // 1 on success, 0 on any failure; the outcome also goes to the log and
    // to bootSucceeded / bootBusy.
    int run();

    // The version the boot environment shows after name: past at most 30
    // plain spaces, as many characters as the expected version has (fewer
    // where the text ends). nullopt when the name is not in the text.
    static std::optional<std::string> foundVersion(const std::string& text, const std::string& name,
                                                   std::size_t length);

    // Waits for the rebooted router: pingUntil for waitMs, then up to ten
    // 1000 ms retries (each failed one logged), then a final 500 ms check
    // that decides. 1 when that check got an answer.
    int waitForRouter(const std::string& address, int waitMs);

private:
    StationContext& context_;
    EchoPort& echo_;
};

}  // namespace vornix
