#pragma once

#include <string>
#include <vector>

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
        std::string notice;         // a line to log before the block is written, or empty
        std::string reusedBlockOf;  // the unfinished run whose block this is, or empty
        // The next router's block is already past this one: the block is
        // this run's whatever happens (a gang station's start_mac).
        bool taken = false;
        // The unit's serial, on a station that numbers its units itself.
        std::string serial;
    };
    // On a station with serials, asked before reserve: the run is for the
    // unit of this serial (empty: a unit the station numbers now).
    virtual void unitIs(const std::string& /*serial*/) {}
    // This router's block of count consecutive addresses. Asked once per
    // run, before anything is written to the router.
    virtual Reserved reserve(int count) = 0;
    // The block is on the router and verified; next is the address after it.
    // Empty when the next router's block is safely recorded, else the
    // stage's failure line.
    virtual std::string commit(const std::string& startMac, int count, const std::string& next) = 0;
    // The addresses the router holds before anything is written (asked on
    // stations that know their units): empty when the router may be
    // written, else the stage's failure line (it holds another unit's).
    virtual std::string routerHolds(const std::vector<std::string>& /*addresses*/) { return std::string(); }
    // Asked before each write to the router: empty while the block is still
    // this run's to write, else the stage's failure line.
    virtual std::string stillHeld() { return std::string(); }
    // Asked once, before the first write to the router: empty once the
    // source knows that the block may be on a router from now on, else the
    // stage's failure line (nothing was written).
    virtual std::string writing() { return std::string(); }
    // The block was written to the router and never became its own: it is
    // spent when the run ends, never handed out again. Sources that give a
    // failed run's block to the station's next run (the same router, tried
    // again) say false.
    virtual bool spentAtEnd() const { return false; }
    // The whole stage verified, environment included: empty when the block
    // is recorded as this router's, else the stage's failure line.
    virtual std::string stageVerified() { return std::string(); }
};

}  // namespace vornix
