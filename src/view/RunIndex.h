#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "config/RouterPort.h"

namespace vornix::view {

// Milliseconds since 1970, UTC.
using Millis = long long;

// "2026-12-09T08:00:00.123Z" or "2026-12-09T08:00:00Z"; nothing else.
std::optional<Millis> parseUtc(std::string_view text);
// "2026-12-09T08:00:00.000Z"
std::string utcText(Millis time);

// A MAC address in any common notation: 00:11:22:33:44:55,
// 00-11-22-33-44-55, 001122334455, 0011.2233.4455, any letter case.
std::optional<long long> parseAnyMac(std::string_view text);

enum class Result : std::uint8_t { Succeeded, Failed, Interrupted };
enum class StageState : std::uint8_t { NotChosen, Succeeded, Failed, NotRun };
constexpr int stageCount = 3;
extern const char* const stageKeys[stageCount];  // "mac", "boot", "firmware"

// What the view keeps of a run: enough for every figure and list; the
// whole record is read again from its source when one run is shown.
struct Run {
    std::string id;
    // What the summary reads of every run comes first, close together: a
    // run's fields beyond them cost a summary of a week a cache miss each.
    std::uint32_t station = 0, router = 0;  // into the index's names
    Millis started = 0;
    Result result = Result::Failed;
    StageState stages[stageCount] = {};
    std::uint8_t port = 0;  // its gang station's port, 0 for none
    bool fromJournal = false;
    int stageMs[stageCount] = {};
    std::uint32_t interfaceName = 0;      // the port's, into the names (when it has a port)
    std::vector<std::uint32_t> failures;  // into the index's names: why it failed, each once
    std::int64_t stageFailure[stageCount] = {-1, -1, -1};  // a failed stage's line, into the names
    long long firstMac = -1;              // the first address it wrote, -1 for none
    Millis ended = 0;
    long long offset = 0;  // of its journal line
    std::uint32_t length = 0;
};

// A record parsed for the index; written addresses as (name, address).
struct ParsedRun {
    Run run;
    std::string station, router, interfaceName;
    std::vector<std::string> failureLines;
    std::string stageFailures[stageCount];
    std::vector<std::pair<std::string, long long>> addresses;
    long long blockFirst = -1;
};
// The records the view parses: larger or deeper ones are refused unparsed
// (the parser and the writer of an answer recurse once per level).
constexpr std::size_t maxRecordBytes = 4u << 20;
constexpr int maxRecordDepth = 64;
// Why a record's text is refused (too large, nested too deep), or empty. A
// cheap scan, outside strings, not a parse. runId (when given): the record's
// top-level "run", when it names it as plain text.
std::string recordRefusal(std::string_view text, std::string* runId = nullptr);

// One record's JSON text; nullopt when it is not a record or is refused
// (then *refusal, when given, says why).
std::optional<ParsedRun> parseRecord(std::string_view text, std::string* refusal = nullptr);

struct SpanSummary;
struct RunFilter {
    std::string station;
    std::optional<Result> result;
    int stage = -1;  // a stage ticked, or -1 for any
    Millis from = 0, to = 0;  // started within [from, to]; 0 for open
};

struct AddressHolder {
    std::size_t run = 0;  // into runs()
    std::string name;     // the variable it was written to
    long long blockFirst = -1;
    int blockCount = 0;
};

// Every run the view knows of, from the journal and the line database. A
// run known from both is kept as the journal has it (its final record).
class RunIndex {
public:
    // Adds or replaces the run with this id.
    void add(ParsedRun parsed);
    // Forgets what came from the journal or from the database.
    void clear();
    std::size_t size() const { return runs_.size(); }
    const std::vector<Run>& runs() const { return runs_; }
    const std::string& name(std::uint32_t id) const { return names_[id]; }
    const Run* find(const std::string& id) const;

    SpanSummary summarize(Millis from, Millis to) const;
    // The filtered runs, newest first: total count and one page's runs.
    std::size_t select(const RunFilter& filter, std::size_t skip, std::size_t take,
                       std::vector<const Run*>& page) const;
    // The run that received an address: the last succeeded one, else the last.
    std::optional<AddressHolder> holder(long long mac) const;

private:
    std::uint32_t intern(const std::string& text);
    const std::vector<std::size_t>& byStart() const;
    // Which router each run prepared, by run: see byStart().
    long long routerKey(std::size_t index) const { return keys_[index]; }

    std::vector<Run> runs_;
    std::unordered_map<std::string, std::size_t> byId_;
    std::vector<std::string> names_;
    std::unordered_map<std::string, std::uint32_t> nameIds_;
    struct Written {
        std::size_t run;
        std::uint32_t name;
        long long blockFirst;
        int blockCount;
    };
    std::unordered_map<long long, std::vector<Written>> addresses_;
    mutable std::vector<std::size_t> order_;  // runs by start, oldest first
    mutable std::vector<long long> keys_;     // each run's router
    mutable bool ordered_ = true;
};

// Runs by how they ended: the span's, a station's and a port's are one tally.
struct RunCounts {
    long long runs = 0, succeeded = 0, failed = 0, interrupted = 0;
    void count(Result result) {
        ++runs;
        (result == Result::Succeeded ? succeeded : result == Result::Failed ? failed : interrupted) += 1;
    }
};
struct PortFigures : RunCounts {
    int port = 0;
    std::string interfaceName;  // of the port's latest run in the span
    std::string topFailure;     // its most frequent failure line, empty when none failed
    long long topFailureCount = 0;
};
struct StationFigures : RunCounts {
    std::string station;
    long long routers = 0;
    std::vector<PortFigures> ports;  // a gang station's ports with runs, by port; empty for others
};
struct StageFigures {
    long long runs = 0;
    std::optional<long long> medianMs, p90Ms;
};
struct HourFigures {
    Millis hour = 0;
    long long succeeded = 0, failed = 0;
};
struct SpanSummary : RunCounts {
    long long routers = 0, firstPassRouters = 0;
    std::vector<StationFigures> stations;
    std::vector<HourFigures> hours;
    std::vector<std::pair<std::string, long long>> failures;  // most first
    StageFigures stages[stageCount];
};

}  // namespace vornix::view
