#pragma once

#include <string>

#include "station/OperatorConsole.h"

namespace vornix {

// The block of consecutive MAC addresses a router receives: the first three
// octets are copied from startMac as they stand, the last three count.
class MacBlock {
public:
    // start_mac as read (its 18-byte buffer holds at most 17 characters).
    void setStartMac(const std::string& text) { startMac_ = text.substr(0, 17); }
    const std::string& startMac() const { return startMac_; }

    // The counter of the last three octets: hexadecimal digits among the
    // characters at positions 9 to 17, weighted 16^5 downwards in the order
    // found, everything else skipped; digits past the sixth add nothing.
    static int readCounter(const std::string& text);
    // startMac's first 8 characters, then the low 24 bits of value as
    // ":XX:XX:XX" in upper case.
    std::string formatMac(long long value) const;
    // The address count places past startMac: start_mac once the block is used.
    std::string after(int count) const { return formatMac(readCounter(startMac_) + count); }

private:
    std::string startMac_;
};

// start_mac as the station accepts it: six pairs of hexadecimal digits,
// either case, separated by colons, and nothing else.
bool isMacText(const std::string& text);

// The longest field the scratch list takes (a 512-byte buffer): longer
// fields are cut to it.
constexpr std::size_t maxFieldLength = 511;

// Replaces the scratch list with the fields of text, split at every ","
// (n commas give n + 1 items, nothing trimmed). Always 1.
int splitFields(const std::string& text, OperatorConsole& console);

}  // namespace vornix
