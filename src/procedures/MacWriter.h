#pragma once

#include <string>

#include "config/SerialRules.h"
#include "procedures/MacBlock.h"
#include "station/MacBlockSource.h"
#include "station/StationContext.h"

namespace vornix {

// The first stage: writes the router's MAC addresses and environment over
// telnet, reads the MAC file back over a second connection, verifies every
// value and hands the next router's block to the block source.
class MacWriter {
public:
    // The unit a run is for, on a station with serials (rules.source not
    // Off): its serial as given (empty: read from the router, or numbered
    // by the block source), and the rules a serial read from the router
    // must pass; rules.name is the router variable that holds it.
    struct Unit {
        SerialRules rules;
        std::string serial;
    };
    // block is the dialog's: start_mac's text stays in it after the run.
    MacWriter(StationContext& context, MacBlock& block, MacBlockSource& blocks, Unit unit = Unit())
        : context_(context), block_(block), blocks_(blocks), unit_(std::move(unit)) {}

    // 1 on success, 0 on any failure; the outcome also goes to the log and
    // to macSucceeded / macBusy.
    int run();

private:
    StationContext& context_;
    MacBlock& block_;
    MacBlockSource& blocks_;
    Unit unit_;
};

}  // namespace vornix
