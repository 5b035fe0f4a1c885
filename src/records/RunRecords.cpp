#include "records/RunRecords.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>

#include "link/WireTap.h"
#include "records/Transcript.h"
#include "config/RouterPort.h"

namespace vornix {

namespace {

using nlohmann::json;

const char* const doneSuffix = ".log";
// A transcript being made, before it has its name (FileRecords::create).
const char* const unnamedSuffix = ".new";
const char* const headingStart = "vornix transcript ";

std::string liveName(const std::string& doneName) {
    return doneName.substr(0, doneName.size() - std::strlen(doneSuffix)) + RunRecords::liveSuffix;
}

std::string doneName(const std::string& liveName) {
    return liveName.substr(0, liveName.size() - std::strlen(RunRecords::liveSuffix)) + doneSuffix;
}

long long epochMs(std::chrono::system_clock::time_point time) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
}

// The transcript's first line: what a record of the run needs when its
// process is killed.
std::string heading(const RunRecord::Data& run, const journal::Station& station, const Secrets& secrets) {
    nlohmann::ordered_json fields;
    fields["run"] = run.runId;  // never masked: it must name the run as the line database does
    fields["started"] = journal::utcText(run.started);
    fields["startedMs"] = epochMs(run.started);
    fields["router"] = secrets.mask(run.router);
    if (!run.serial.empty()) fields["serial"] = secrets.mask(run.serial);
    if (run.port > 0) {
        fields["port"] = run.port;
        fields["interface"] = secrets.mask(run.interfaceName);
    }
    fields["station"] = secrets.mask(station.name);
    fields["program"] = station.program;
    return headingStart + fields.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

// A killed run's record as far as its transcript tells it: the heading, the
// station's notes and log lines, and the time of its last line.
struct Recovered {
    // Whole: the heading names the run. Incomplete: the file ends before the
    // heading's line does (killed while it was written). Corrupt: a whole
    // first line that names no run.
    enum class Heading { Whole, Incomplete, Corrupt } heading = Heading::Corrupt;
    bool ok() const { return heading == Heading::Whole; }
    RunRecord::Data data;
    journal::Station station;
};

Recovered readTranscript(const std::string& text) {
    Recovered run;
    std::size_t at = text.find('\n');
    if (at == std::string::npos) {
        run.heading = Recovered::Heading::Incomplete;
        return run;
    }
    if (text.compare(0, std::strlen(headingStart), headingStart) != 0) return run;
    // A heading is one short line; a longer one is no heading of ours.
    if (at > 64 * 1024) return run;
    const json fields = json::parse(text.substr(std::strlen(headingStart), at - std::strlen(headingStart)), nullptr, false);
    if (!fields.is_object()) return run;
    auto field = [&](const char* key) {
        return fields.contains(key) && fields[key].is_string() ? fields[key].get<std::string>() : std::string();
    };
    RunRecord::Data& data = run.data;
    data.runId = field("run");
    data.router = field("router");
    data.serial = field("serial");
    data.interfaceName = field("interface");
    if (fields.contains("port") && fields["port"].is_number_integer()) {
        const long long port = fields["port"].get<long long>();
        if (port > 0 && port <= maxPorts) data.port = static_cast<int>(port);
    }
    run.station = {field("station"), field("program")};
    const long long started = fields.contains("startedMs") && fields["startedMs"].is_number_integer()
                                  ? fields["startedMs"].get<long long>()
                                  : 0;
    data.started = std::chrono::system_clock::time_point(std::chrono::milliseconds(started));
    long long lastMs = 0;
    for (++at; at < text.size();) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();  // a line cut by the kill
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        // "[      12 ms] ..."
        const std::size_t close = line.find(" ms] ");
        if (line.empty() || line[0] != '[' || close == std::string::npos) continue;
        lastMs = std::max(lastMs, std::atoll(line.c_str() + 1));
        const std::string rest = unescapeTranscript(line.substr(close + 5));
        auto after = [&](const char* start, std::string& value) {
            if (rest.compare(0, std::strlen(start), start) != 0) return false;
            value = rest.substr(std::strlen(start));
            return true;
        };
        std::string value;
        if (after("log: ", value)) {
            data.log.push_back(value);
        } else if (rest == "note: log cleared") {
            data.log.clear();
        } else if (rest == "note: mac block writing") {
            data.blockWriting = true;
        } else if (rest == "note: mac block taken") {
            data.blockTaken = true;
        } else if (after("note: mac block spent ", value)) {
            // The station's own word: its block was spent as the run failed.
        } else if (after("note: mac block ", value)) {
            data.startMacBefore = value.substr(0, value.find(' '));
            const std::size_t count = value.find(" count ");
            if (count != std::string::npos) data.blockCount = std::atoi(value.c_str() + count + 7);
        } else if (after("note: start_mac after ", value)) {
            data.startMacAfter = value;
        } else if (after("note: mac written ", value)) {
            const std::size_t space = value.rfind(' ');
            if (space != std::string::npos) data.macs.push_back({value.substr(0, space), value.substr(space + 1), ""});
        } else if (after("note: serial ", value)) {
            data.serial = value;
        } else if (after("note: router hardware ", value)) {
            data.routerHardware = value;
        } else if (after("note: reused block of ", value)) {
            data.reusedBlockOf = value;
        }
    }
    data.ended = data.started + std::chrono::milliseconds(lastMs);
    if (!data.runId.empty()) run.heading = Recovered::Heading::Whole;
    return run;
}

void tellStandardError(const std::string& line) { std::fprintf(stderr, "vornix: %s\n", line.c_str()); }

}  // namespace

// The transcript file, shared with the transcript's sink: written only
// under the transcript's lock, read once the transcript is finished.
struct TranscriptFile {
    std::unique_ptr<HeldFile> held;
    std::string why;  // the first write that failed
};

struct RunRecords::Run {
    std::shared_ptr<RunRecord> record;
    std::shared_ptr<Transcript> transcript;
    std::shared_ptr<TranscriptFile> file;
    Secrets secrets;
    std::string name;  // the transcript's name once the run is over
};

RunRecords::RunRecords(RecordFiles& files, std::string directory, char separator, journal::Station station,
                       OperatorConsole& log)
    : files_(files),
      directory_(std::move(directory)),
      separator_(separator),
      station_(std::move(station)),
      log_(log),
      tell_(tellStandardError) {}

RunRecords::~RunRecords() = default;

std::string RunRecords::transcripts() const { return directory_ + separator_ + journal::transcriptDirectory; }

std::string RunRecords::journalPath() const { return directory_ + separator_ + journal::fileName; }

std::shared_ptr<RunRecord> RunRecords::begin(const RunRecord::Data& start, const Secrets& secrets) {
    auto run = std::make_unique<Run>();
    run->record = std::make_shared<RunRecord>(start);
    run->secrets = secrets;
    run->name = journal::transcriptName(start.started, start.router, start.port);
    auto file = std::make_shared<TranscriptFile>();
    file->held = files_.create(transcripts(), liveName(run->name), heading(start, station_, secrets), file->why);
    if (!file->held && file->why.empty()) file->why = "cannot make the transcript";
    run->file = file;
    run->transcript = std::make_shared<Transcript>(Transcript::Clock::now(), secrets, [file](const std::string& lines) {
        if (!file->held || !file->why.empty()) return;
        std::string why;
        if (!file->held->append(lines, why)) file->why = why;
    });
    // The log and the stages' notes between the data: what a killed run's
    // record is made of.
    run->record->listen([transcript = run->transcript](const std::string& what, const std::string& text) {
        if (what == "log") transcript->note("log: " + text);
        else transcript->note("note: " + what + (text.empty() ? "" : " " + text));
    });
    setWireTap(run->transcript);
    run_ = std::move(run);
    lastTold_.clear();
    return run_->record;
}

void RunRecords::fail(RunOutcome& outcome, const std::string& line) {
    outcome.recordsKept = false;
    // One reason once: a directory that refuses the transcript refuses the journal too.
    if (line == lastTold_) return;
    lastTold_ = line;
    log_.appendLog(line);
}

void RunRecords::end(RunOutcome& outcome, LineRecordKeeper* keeper) {
    if (!run_) return;
    Run& run = *run_;
    setWireTap(nullptr);
    run.record->ended();
    run.transcript->finish();
    TranscriptFile& file = *run.file;
    if (file.held && file.why.empty()) file.held->sync(file.why);
    if (!file.why.empty()) fail(outcome, "Can't write the run journal: " + file.why);

    const std::string transcript = file.held ? std::string(journal::transcriptDirectory) + "/" + run.name : "";
    auto recordLine = [&] {
        return journal::recordLine(run.record->data(), outcome, station_, transcript, run.secrets);
    };
    std::string record = recordLine();
    const std::string serial = run.secrets.mask(run.record->data().serial);
    bool kept = false;
    if (keeper) {
        const std::string notKept = keeper->keepForUnit(run.record->data().runId, serial, record);
        kept = notKept.empty();
        if (!kept) {
            fail(outcome, notKept);
            record = recordLine();
        }
    }
    std::string why;
    if (!files_.appendLine(journalPath(), record, why)) {
        const bool keptAsSucceeded = kept && outcome.succeeded();
        fail(outcome, "Can't write the run journal: " + why);
        // The line's record must not say more than the run did.
        if (keptAsSucceeded) {
            const std::string notKept = keeper->keepForUnit(run.record->data().runId, serial, recordLine());
            if (!notKept.empty()) fail(outcome, notKept);
        }
    }
    // Its end is dealt with, record or not: never taken for a killed run.
    // A rename that fails leaves it .open (the next start finds its record
    // in the journal and names it): the run fails, and its record, written
    // again, says so.
    if (file.held && !file.held->rename(run.name, why)) {
        const bool recordedAsSucceeded = outcome.succeeded();
        fail(outcome, "Can't write the run journal: cannot name the transcript " + run.name + ": " + why);
        if (recordedAsSucceeded) {
            if (keeper) {
                const std::string notKept = keeper->keepForUnit(run.record->data().runId, serial, recordLine());
                if (!notKept.empty()) fail(outcome, notKept);
            }
            if (!files_.appendLine(journalPath(), recordLine(), why)) fail(outcome, "Can't write the run journal: " + why);
        }
    }
    file.held.reset();
}

bool RunRecords::inJournalTail(const std::string& runId) const {
    std::vector<std::string> records;
    std::string why;
    if (!journal::lastRecords(journalPath(), 8, records, why)) return false;
    for (const std::string& record : records) {
        const json fields = json::parse(record, nullptr, false);
        if (fields.is_object() && fields.contains("run") && fields["run"] == runId) return true;
    }
    return false;
}

void RunRecords::recoverInterrupted(const Secrets& secrets, LineRecordKeeper* keeper,
                                    const SpendProfileBlock& spendProfileBlock) {
    // Oldest first: a start_mac moved past one killed run's block is where
    // the next one's began.
    std::vector<std::string> names = files_.names(transcripts(), liveSuffix);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) recover(name, secrets, keeper, spendProfileBlock);
    // Killed while its transcript was being made, before it had its name:
    // its run had sent nothing yet (a run's first byte waits for the name).
    for (const std::string& name : files_.names(transcripts(), std::string(liveSuffix) + unnamedSuffix)) {
        const std::unique_ptr<HeldFile> file = files_.claim(transcripts(), name);
        if (!file) continue;  // still being made
        std::string why;
        if (file->remove(why))
            tell_("removed the transcript " + name + ": its run was killed before it sent anything");
        else
            tell_("cannot remove the transcript " + name + " of a run killed before it sent anything: " + why);
    }
}

void RunRecords::recover(const std::string& name, const Secrets& secrets, LineRecordKeeper* keeper,
                         const SpendProfileBlock& spendProfileBlock) {
    // Held: its run is live, or another process is dealing with it.
    const std::unique_ptr<HeldFile> file = files_.claim(transcripts(), name);
    if (!file) return;
    std::string text, why;
    if (!file->read(text, why)) {
        log_.appendLog("Can't read the transcript " + name + ": " + why);
        return;
    }
    Recovered run = readTranscript(text);
    // Cut inside its heading: a heading reaches the disk before its
    // transcript has this name, so only the disk itself lost it.
    if (run.heading == Recovered::Heading::Incomplete) {
        if (file->remove(why))
            tell_("removed the transcript " + name + ": its heading is incomplete, it tells of no run");
        else
            tell_("cannot remove the transcript " + name + " whose heading is incomplete: " + why);
        return;
    }
    const std::string done = doneName(name);
    if (run.heading == Recovered::Heading::Corrupt) {
        // Still a run that was killed: recorded under its transcript's name.
        run.data.runId = name.substr(0, name.size() - std::strlen(liveSuffix));
        run.data.started = run.data.ended = std::chrono::system_clock::now();
        run.data.interruption = "the transcript's heading is corrupt";
        run.station = station_;
        tell_("the transcript " + name + " has a corrupt heading: recorded as an interrupted run");
    }
    // Killed after its record was written, before the rename: nothing to add.
    if (!run.ok() || !inJournalTail(run.data.runId)) {
        RunRecord::Data& data = run.data;
        const bool wroteBlock = data.blockWriting && data.blockCount > 0 && data.startMacAfter.empty();
        if (!keeper && data.blockTaken && data.blockCount > 0 && data.startMacAfter.empty()) {
            // A gang port's block: start_mac is past it already; the record says it is spent.
            data.spentFirst = data.startMacBefore;
            data.spentCount = data.blockCount;
        } else if (keeper && run.ok()) {
            // The database knows for certain whether the block was written
            // (it was told before the first byte went out).
            const std::string notReleased = keeper->release(data.runId, data.spentFirst, data.spentCount);
            if (!notReleased.empty()) log_.appendLog(notReleased);
        } else if (!keeper && data.blockCount > 0 && data.startMacAfter.empty() && spendProfileBlock) {
            std::string told;
            if (spendProfileBlock(data.runId, data.startMacBefore, data.blockCount, wroteBlock, told) && wroteBlock) {
                data.spentFirst = data.startMacBefore;
                data.spentCount = data.blockCount;
            }
            if (!told.empty()) tell_(told);
        }
        const std::string record = journal::interruptedLine(
            data, run.station, std::string(journal::transcriptDirectory) + "/" + done, secrets);
        if (keeper) {
            const std::string notKept = keeper->keepForUnit(data.runId, secrets.mask(data.serial), record);
            if (!notKept.empty()) log_.appendLog(notKept);
        }
        if (!files_.appendLine(journalPath(), record, why)) {
            log_.appendLog("Can't write the run journal: " + why);
            return;  // still .open: the next start tries again
        }
    }
    if (!file->rename(done, why)) tell_("cannot name the transcript " + name + " " + done + ": " + why);
}

}  // namespace vornix
