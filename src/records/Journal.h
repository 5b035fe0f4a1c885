#pragma once

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "records/Secrets.h"
#include "station/RunOutcome.h"
#include "station/RunRecord.h"

namespace vornix {

// The station's journal: one JSON object per line in vornix-journal.jsonl
// beside setup.ini, one line per run.
namespace journal {

constexpr int formatVersion = 1;
constexpr const char* fileName = "vornix-journal.jsonl";
constexpr const char* transcriptDirectory = "transcripts";

// What the journal says of the station and the program.
struct Station {
    std::string name;     // the host name
    std::string program;  // "vornix <version>"
};

// The run's record as one line of JSON (no line end), secrets masked.
// ticked: the stages the operator chose; transcript: its file name below
// the station directory, empty when there is none.
std::string recordLine(const RunRecord::Data& data, const RunOutcome& outcome, const Station& station,
                       const std::string& transcript, const Secrets& secrets);

// The record of a run whose process was killed, from what its transcript
// kept: result "interrupted", no stage ticked, the MAC block and the
// addresses written when the transcript names them, and the log it kept.
std::string interruptedLine(const RunRecord::Data& data, const Station& station, const std::string& transcript,
                            const Secrets& secrets);

// Text as every record holds it: secrets masked, 8-bit bytes read as
// Latin-1 and written as UTF-8.
std::string cleanText(const Secrets& secrets, const std::string& text);

// "2026-12-08T10:30:00.123Z"
std::string utcText(std::chrono::system_clock::time_point time);
// The same, fit for a file name on every system: "2026-12-08T10-30-00.123Z".
std::string utcFileText(std::chrono::system_clock::time_point time);
// The transcript's file name for a run: its UTC start and the router.
std::string transcriptName(std::chrono::system_clock::time_point started, const std::string& router, int port = 0);

// The last count records of the journal at path that parse, oldest first,
// read from the file's end (a torn last line is skipped). False and why
// when the file cannot be read; a missing file has no records.
bool lastRecords(const std::string& path, std::size_t count, std::vector<std::string>& records, std::string& why);

// The records as a table (time, router, stages, result, first MAC; the
// port too when any of them has one; withStation: the station after the
// time), or as they are, one JSON object per line.
void print(std::FILE* out, const std::vector<std::string>& records, bool asJson, bool withStation = false);

}  // namespace journal
}  // namespace vornix
