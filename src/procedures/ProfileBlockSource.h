#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "config/FileBytes.h"
#include "config/Profile.h"
#include "procedures/UnitBook.h"
#include "station/MacBlockSource.h"

namespace vornix {

// What every process that takes a block from one setup.ini's start_mac
// shares with the others: the dialog, vornix-cli and a gang's ports alike.
struct StartMacShare {
    // Takes the lock they all take start_mac under, held while the token
    // lives; nullptr and why when it cannot be had.
    std::function<std::shared_ptr<void>(std::string& why)> hold;
    // The claims file: the blocks one-port runs are writing while start_mac
    // still names them. Read whole (Missing when there is none) and replaced whole.
    std::function<FileRead(std::string& text)> readClaims;
    std::function<bool(const std::string& text)> writeClaims;
    std::string claimsPath;  // named in the operator's lines
    // Units, on a station with serials: the units file, read whole
    // (Missing when there is none) and appended to a line at a time.
    std::function<FileRead(std::string& text)> readUnits = nullptr;
    std::function<bool(const std::string& line, std::string& why)> appendUnit = nullptr;
    // Held while a run writes the unit's block: nullptr and an empty why
    // while another run (another port, process or station) holds it.
    std::function<std::shared_ptr<void>(const std::string& serial, std::string& why)> holdUnit = nullptr;
    std::string unitsPath = std::string();
};

// A block that a one-port run is writing: its first address, its size and
// the run. One line of the claims file: "FIRST COUNT RUN".
struct StartMacClaim {
    std::string first;
    int count = 0;
    std::string runId;
};
// The claims file's lines; false for a file that is not one (the takers
// then refuse to guess which blocks are free).
bool parseClaims(const std::string& text, std::vector<StartMacClaim>& claims);
std::string claimsText(const std::vector<StartMacClaim>& claims);

// The block from setup.ini: start_mac is this router's first address, and
// it only ever moves forward, under the lock every taker shares.
//  - A one-port station moves it past the block once the block is verified
//    on the router; until then the block is claimed, so that a taker beside
//    it (a gang in the same folder) takes the block after it. A run that
//    fails leaves start_mac where it was, and the next run (the same router
//    tried again) writes the same block, unless another taker moved past it
//    meanwhile: the block is then a gap.
//  - A gang port moves it past the block as it takes it: the block is the
//    run's whatever happens, and one that fails leaves a gap.
// A block never runs into its range's last address (…:FF:FF:FF): start_mac
// reaches that address when the range is used up, and is never written past it.
class ProfileBlockSource : public MacBlockSource {
public:
    enum class Moves { OnceVerified, AtOnce };

    ProfileBlockSource(Profile& profile, std::string configPath, StartMacShare share, Moves moves, std::string runId);
    // A station alone with its setup.ini (no lock, no claims): tests and benchmarks.
    ProfileBlockSource(Profile& profile, std::string configPath);
    // Gives up a claim still held: the run did not verify its block.
    ~ProfileBlockSource() override;

    // The run is for the unit of this serial: it writes the unit's own
    // block, or binds a new one to the unit for life. The share is needed.
    // An empty serial: the unit is new, and numbered by assign.
    void unitIs(const std::string& serial) override {
        serial_ = serial;
        forUnit_ = true;
    }
    // How a station that numbers its units gives the next serial, asked
    // under the start_mac lock: empty, or the stage's failure line.
    void assignsSerials(std::function<std::string(std::string& serial)> assign) { assign_ = std::move(assign); }

    Reserved reserve(int count) override;
    std::string routerHolds(const std::vector<std::string>& addresses) override;
    std::string commit(const std::string& startMac, int count, const std::string& next) override;
    bool spentAtEnd() const override { return taken_ && !verified_; }
    std::string stageVerified() override {
        verified_ = true;
        return std::string();
    }

    // The line for a block of count addresses from first that would reach
    // its range's end, or empty when it fits.
    static std::string pastRangeEnd(const std::string& first, int count);

private:
    std::shared_ptr<void> lock(std::string& failure);
    bool readClaims(std::vector<StartMacClaim>& claims, std::string& failure);
    bool writeClaims(std::vector<StartMacClaim> claims, const std::string& startMac, std::string& failure);
    std::string writeStartMac(const std::string& next);
    void dropClaim();
    Reserved reserveForUnit(int count);

    Profile& profile_;
    std::string configPath_;
    std::unique_ptr<StartMacShare> share_;  // none for a station alone
    Moves moves_ = Moves::OnceVerified;
    std::string runId_;
    bool claimed_ = false;  // a claim of this run is in the claims file
    bool taken_ = false;    // start_mac moved past the block when it was taken
    bool verified_ = false;
    bool forUnit_ = false;              // a station with serials
    std::string serial_;                // the unit's
    std::function<std::string(std::string& serial)> assign_;
    std::shared_ptr<void> unitHeld_;    // no other run writes the unit's block meanwhile
    std::vector<UnitBlock> units_;      // as read when the block was reserved
};

// A run killed before its block was verified, its block taken from start_mac
// by a one-port station: its claim goes, and when it had begun writing the
// block, start_mac moves past it (the block may be on that router). True
// when start_mac moved; told: a line for standard error.
bool settleKilledBlock(Profile& profile, const StartMacShare& share, const std::string& runId,
                       const std::string& first, int count, bool written, std::string& told);

}  // namespace vornix
