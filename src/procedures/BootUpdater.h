#pragma once

#include <cstdint>
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

    // How long a prompt-paced copy may run before the stage gives up
    // without a reboot, and how long the router may take to end the
    // connection after "reboot".
    static constexpr int copyLimitMs = 600000;
    static constexpr int rebootCloseLimitMs = 120000;
    // How long the router may take to tell the size of the image it
    // fetched (a download still running holds the answer back), and how
    // long the station's FTP server may take to tell the size it serves.
    static constexpr int downloadLimitMs = 600000;
    static constexpr int serverSizeLimitMs = 10000;

    // What the router's answer to "wc -c path" says so far.
    struct SizeOnRouter {
        enum State { pending, known, unreadable } state = pending;
        std::uint64_t bytes = 0;  // when known; a missing file has 0
    };
    // Only whole lines count: "BYTES path" (blanks before it allowed), or
    // wc's own "wc: path: No such file or directory" (0 bytes). Any other
    // complaint of wc about path, or no wc at all, is unreadable. The
    // command's echo and a download's messages before the answer say nothing.
    static SizeOnRouter sizeOnRouter(const std::string& answer, const std::string& path);

    // The version the boot environment shows on name's own line: past at
    // most 30 plain spaces, as many characters as the expected version has
    // (fewer where the line ends). nullopt when no line is name's own.
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
