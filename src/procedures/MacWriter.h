#pragma once

#include <string>

#include "link/TelnetChannel.h"
#include "procedures/MacBlock.h"
#include "station/StationContext.h"

namespace vornix {

// The first stage: writes the router's MAC addresses and environment over
// telnet, reads the MAC file back over a second connection, verifies every
// value and advances start_mac in setup.ini for the next router.
class MacWriter {
public:
    // block is the dialog's: start_mac's text stays in it after the run.
    MacWriter(StationContext& context, MacBlock& block) : context_(context), block_(block) {}

    // 1 on success, 0 on any failure; the outcome also goes to the log and
    // to macSucceeded / macBusy.
    int run();

    // Commands and log lines live in 1024-byte buffers.
    static constexpr std::size_t maxLineLength = 1023;

private:
    int fail(const std::string& line);
    int succeed();
    void log(const std::string& line);
    // Sends a command that fits its buffer; false (nothing sent) when not.
    bool sendCommand(const std::string& command);
    bool connectAndLogin(const std::string& address);

    StationContext& context_;
    MacBlock& block_;
    TelnetChannel channel_;
    bool channelOpen_ = false;
};

}  // namespace vornix
