#include "records/RunRecords.h"

#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>

#include "link/WireTap.h"
#include "records/Transcript.h"

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
    fields["station"] = secrets.mask(station.name);
    fields["program"] = station.program;
    return headingStart + fields.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

// A killed run's record as far as its transcript tells it: the heading, the
// station's notes and log lines, and the time of its last line.
struct Recovered {
    bool ok = false;
    RunRecord::Data data;
    journal::Station station;
};

Recovered readTranscript(const std::string& text) {
    Recovered run;
    std::size_t at = text.find('\n');
    if (text.compare(0, std::strlen(headingStart), headingStart) != 0 || at == std::string::npos) return run;
    const json fields = json::parse(text.substr(std::strlen(headingStart), at - std::strlen(headingStart)), nullptr, false);
    if (!fields.is_object()) return run;
    auto field = [&](const char* key) {
        return fields.contains(key) && fields[key].is_string() ? fields[key].get<std::string>() : std::string();
    };
    RunRecord::Data& data = run.data;
    data.runId = field("run");
    data.router = field("router");
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
        } else if (after("note: mac block ", value)) {
            data.startMacBefore = value.substr(0, value.find(' '));
        } else if (after("note: start_mac after ", value)) {
            data.startMacAfter = value;
        } else if (after("note: mac written ", value)) {
            const std::size_t space = value.rfind(' ');
            if (space != std::string::npos) data.macs.push_back({value.substr(0, space), value.substr(space + 1), ""});
        } else if (after("note: reused block of ", value)) {
            data.reusedBlockOf = value;
        }
    }
    data.ended = data.started + std::chrono::milliseconds(lastMs);
    run.ok = !data.runId.empty();
    return run;
}

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
    : files_(files), directory_(std::move(directory)), separator_(separator), station_(std::move(station)), log_(log) {}

RunRecords::~RunRecords() = default;

std::string RunRecords::transcripts() const { return directory_ + separator_ + journal::transcriptDirectory; }

std::string RunRecords::journalPath() const { return directory_ + separator_ + journal::fileName; }

std::shared_ptr<RunRecord> RunRecords::begin(const RunRecord::Data& start, const Secrets& secrets) {
    auto run = std::make_unique<Run>();
    run->record = std::make_shared<RunRecord>(start);
    run->secrets = secrets;
    run->name = journal::transcriptName(start.started, start.router);
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
    bool kept = false;
    if (keeper) {
        const std::string notKept = keeper->keep(run.record->data().runId, record);
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
            const std::string notKept = keeper->keep(run.record->data().runId, recordLine());
            if (!notKept.empty()) fail(outcome, notKept);
        }
    }
    // Its end is dealt with, record or not: never taken for a killed run.
    // (Should the rename fail, the next start finds the record in the journal.)
    if (file.held) file.held->rename(run.name, why);
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

void RunRecords::recoverInterrupted(const Secrets& secrets, LineRecordKeeper* keeper) {
    for (const std::string& name : files_.names(transcripts(), liveSuffix)) recover(name, secrets, keeper);
    // Killed while its transcript was being made, before it had its name
    // (writing the heading waits for the disk): recorded the same way.
    for (const std::string& name : files_.names(transcripts(), std::string(liveSuffix) + unnamedSuffix))
        recover(name, secrets, keeper);
}

void RunRecords::recover(const std::string& name, const Secrets& secrets, LineRecordKeeper* keeper) {
    // Held: its run is live, or another process is dealing with it.
    const std::unique_ptr<HeldFile> file = files_.claim(transcripts(), name);
    if (!file) return;
    std::string text, why;
    if (!file->read(text, why)) {
        log_.appendLog("Can't read the transcript " + name + ": " + why);
        return;
    }
    const Recovered run = readTranscript(text);
    const bool unnamed = name.size() > std::strlen(unnamedSuffix) &&
                         name.compare(name.size() - std::strlen(unnamedSuffix), std::string::npos, unnamedSuffix) == 0;
    // One killed before its heading was written tells of no run.
    if (unnamed && !run.ok) return;
    const std::string done = doneName(unnamed ? name.substr(0, name.size() - std::strlen(unnamedSuffix)) : name);
    // Killed after its record was written, before the rename: nothing to add.
    if (run.ok && !inJournalTail(run.data.runId)) {
        const std::string record = journal::interruptedLine(
            run.data, run.station, std::string(journal::transcriptDirectory) + "/" + done, secrets);
        if (keeper) {
            for (const std::string& notDone : {keeper->keep(run.data.runId, record), keeper->release(run.data.runId)})
                if (!notDone.empty()) log_.appendLog(notDone);
        }
        if (!files_.appendLine(journalPath(), record, why)) {
            log_.appendLog("Can't write the run journal: " + why);
            return;  // still .open: the next start tries again
        }
    }
    file->rename(done, why);
}

}  // namespace vornix
