#pragma once

#include <string>
#include <vector>

namespace vornix {

// Units on a station without a line database: the units file beside the
// journal, one line per unit ("SERIAL FIRST COUNT RUN"), appended under the
// start_mac lock when a unit is first given its block. A unit keeps that
// block for life; a block is never given to a second unit.
struct UnitBlock {
    std::string serial;
    std::string first;  // the block's first address
    int count = 0;
    std::string runId;  // the run that bound them
};

// The units the file's text names. A line that is not a unit's (one torn by
// a killed process, which never wrote its block) is passed over: its block
// is behind start_mac already, and its unit gets a new one.
std::vector<UnitBlock> parseUnits(const std::string& text);
std::string unitLine(const UnitBlock& unit);

// The unit of that serial (the first line that names it), or nullptr.
const UnitBlock* unitNamed(const std::vector<UnitBlock>& units, const std::string& serial);
// The unit whose block holds the address (any case), or nullptr.
const UnitBlock* unitHolding(const std::vector<UnitBlock>& units, const std::string& mac);

// Every address written in text (a router's MAC file): six colon-separated
// hexadecimal pairs, each once, in the order found.
std::vector<std::string> addressesIn(const std::string& text);

}  // namespace vornix
