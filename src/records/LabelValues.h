#pragma once

#include <string>

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

}  // namespace vornix
