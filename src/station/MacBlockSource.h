#pragma once

#include <string>

namespace vornix {

// Where a router's block of MAC addresses comes from and where the next
// router's block is kept: setup.ini's start_mac, or the line's database.
class MacBlockSource {
public:
    virtual ~MacBlockSource() = default;

    struct Reserved {
        bool ok = false;
        std::string startMac;     // the block's first address, six colon-separated pairs
        std::string failureLine;  // the stage's log line when not ok
    };
    // This router's block of count consecutive addresses. Asked once per
    // run, before anything is written to the router.
    virtual Reserved reserve(int count) = 0;
    // The block is on the router and verified; next is the address after it.
    // Empty when the next router's block is safely recorded, else the
    // stage's failure line.
    virtual std::string commit(const std::string& startMac, int count, const std::string& next) = 0;
};

}  // namespace vornix
