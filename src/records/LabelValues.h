#pragma once

#include <string>
#include <vector>

#include "config/LabelRules.h"
#include "records/Journal.h"
#include "records/Secrets.h"
#include "station/RunRecord.h"

namespace vornix {

// A run's label values as its journal record keeps them (masked, UTF-8),
// so that a label made again from the record is the label that was sent.
LabelValues labelValues(const RunRecord::Data& data, const journal::Station& station, const Secrets& secrets);

// The same from a journal record; false when the line is no record.
bool labelValuesOfRecord(const std::string& recordLine, LabelValues& values);

// Whether a journal record is of a run that passed and is for key: its
// serial, one of the addresses it wrote (any case) or its run's id.
bool labelRecordMatches(const std::string& recordLine, const std::string& key);

// A label printed again for a run, as one JSON line of the labels' journal
// (time, run, serial, printer, result, reason), secrets masked.
std::string labelReprintLine(const std::string& runId, const std::string& serial, const RunRecord::Label& label,
                             const Secrets& secrets);

// The labels' journal, beside the run journal: a line for each reprint.
inline constexpr const char* labelJournalFileName = "vornix-labels.jsonl";

// One label of a unit, printed or not.
struct UnitLabel {
    std::string time, printer, result, run, reason;
    bool reprint = false;
};

// Every label of a unit in time order: the prints its runs' records (journal
// lines) hold and the reprints for serial in the labels' journal at
// labelsPath (none when there is none).
std::vector<UnitLabel> unitLabels(const std::vector<std::string>& runRecords, const std::string& labelsPath,
                                  const std::string& serial);

}  // namespace vornix
