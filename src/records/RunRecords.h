#pragma once

#include <functional>
#include <memory>
#include <string>

#include "records/Journal.h"
#include "records/LineRecordKeeper.h"
#include "records/RecordFiles.h"
#include "records/Secrets.h"
#include "station/OperatorConsole.h"
#include "station/RunOutcome.h"
#include "station/RunRecord.h"

namespace vornix {

// A run's records, begun when the run starts and ended when it is over: its
// transcript, written as the run goes, its journal line and, in line mode,
// its record in the line database.
//
// A transcript being written is named transcripts/<UTC start>-<router>.open
// and held by its process (RecordFiles); it is renamed .log once its run's
// end was dealt with. So at start-up an .open transcript that no process
// holds is a killed run's, and only such a run gets a record from it, with
// result "interrupted", without reading the journal.
class RunRecords {
public:
    static constexpr const char* liveSuffix = ".open";

    // directory: the station's, its files named with separator; log: where
    // a record that cannot be kept is told.
    RunRecords(RecordFiles& files, std::string directory, char separator, journal::Station station,
               OperatorConsole& log);
    ~RunRecords();
    RunRecords(const RunRecords&) = delete;
    RunRecords& operator=(const RunRecords&) = delete;

    // A killed run whose block a one-port station took from setup.ini's
    // start_mac and never verified (first address, size, whether it had
    // begun writing it): settles the block. True when it is spent (start_mac
    // moved past it); told: a line for standard error.
    using SpendProfileBlock = std::function<bool(const std::string& runId, const std::string& first, int count,
                                                 bool written, std::string& told)>;

    // Before the first run: a record for every run whose process was killed
    // before it wrote its own, and transcripts of runs killed before they
    // were named (nothing was sent to their routers) removed. keeper: the
    // line database's, in line mode; it gets the record too and the run's
    // block is released, or spent when the run had begun writing it. Without
    // one, spendProfileBlock deals with such a block.
    void recoverInterrupted(const Secrets& secrets, LineRecordKeeper* keeper,
                            const SpendProfileBlock& spendProfileBlock = {});

    // Where lines about the station's files go that belong to no run
    // (standard error unless set).
    void tellOn(std::function<void(const std::string&)> tell) { tell_ = std::move(tell); }

    // The run starts: its record, which the stages and the log note into,
    // and its transcript, which taps every connection from now on.
    std::shared_ptr<RunRecord> begin(const RunRecord::Data& start, const Secrets& secrets);

    // The run is over, in this order: the transcript finished and on the
    // disk, the record in the line database (keeper, in line mode), then
    // the journal line. Each that fails fails the run (outcome) and says
    // why in the log, and the record stored says so: its result is the
    // run's.
    void end(RunOutcome& outcome, LineRecordKeeper* keeper);

private:
    struct Run;
    void recover(const std::string& name, const Secrets& secrets, LineRecordKeeper* keeper,
                 const SpendProfileBlock& spendProfileBlock);
    bool inJournalTail(const std::string& runId) const;
    void fail(RunOutcome& outcome, const std::string& line);
    std::string transcripts() const;
    std::string journalPath() const;

    RecordFiles& files_;
    std::string directory_;
    char separator_;
    journal::Station station_;
    OperatorConsole& log_;
    std::unique_ptr<Run> run_;
    std::string lastTold_;  // the run's last line about its records
    std::function<void(const std::string&)> tell_;
};

}  // namespace vornix
