#include "app/UnitPage.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <vector>

#include "app/Station.h"
#include "config/FileBytes.h"
#include "platform/CurrentDirectory.h"
#include "procedures/MacBlock.h"
#include "procedures/UnitBook.h"
#include "records/Journal.h"
#include "records/LabelValues.h"
#include "records/LineClient.h"

namespace vornix {

using json = nlohmann::ordered_json;

namespace {

// The unit and its runs' records (oldest first), wherever they were kept,
// with its labels' reprints in the labels' journal at labelsPath;
// withStation: the runs come from more than one station's.
void printPage(const UnitBlock& unit, const std::vector<std::string>& runs, const std::string& labelsPath,
               bool asJson, bool withStation, std::FILE* out) {
    std::vector<std::string> versions;
    json runRecords = json::array();
    for (const std::string& line : runs) {
        const json record = json::parse(line, nullptr, false);
        if (!record.is_object()) continue;
        runRecords.push_back(record);
        if (record.contains("boot") && record["boot"].is_object()) {
            const std::string found = record["boot"].value("found", "");
            if (!found.empty() && std::find(versions.begin(), versions.end(), found) == versions.end())
                versions.push_back(found);
        }
    }
    // Only a station that prints labels shows them: the page is otherwise as it was.
    const std::vector<UnitLabel> labels = unitLabels(runs, labelsPath, unit.serial);
    MacBlock block;
    block.setStartMac(unit.first);
    const std::string last = block.formatMac(MacBlock::readCounter(unit.first) + unit.count - 1);
    if (asJson) {
        json page = {{"serial", unit.serial},
                     {"block", {{"first", unit.first}, {"last", last}, {"count", unit.count}}},
                     {"boundBy", unit.runId},
                     {"versions", versions},
                     {"runs", runRecords}};
        for (const UnitLabel& label : labels) {
            json print = {{"time", label.time},     {"printer", label.printer}, {"result", label.result},
                          {"run", label.run},       {"reprint", label.reprint}};
            if (!label.reason.empty()) print["reason"] = label.reason;
            page["labels"].push_back(print);
        }
        std::fprintf(out, "%s\n", page.dump(-1, ' ', false, json::error_handler_t::replace).c_str());
        return;
    }
    std::fprintf(out, "unit      %s\nblock     %s - %s (%d)\nversions  %s\n\n", unit.serial.c_str(),
                 unit.first.c_str(), last.c_str(), unit.count,
                 versions.empty() ? "-" : [&] {
                     std::string all;
                     for (const std::string& v : versions) all += (all.empty() ? "" : ", ") + v;
                     return all;
                 }().c_str());
    // Each print on a line of its own, under the unit's lines.
    for (std::size_t i = 0; i < labels.size(); ++i) {
        const UnitLabel& print = labels[i];
        std::string line = (i == 0 ? "labels    " : "          ") + print.time + "  " + print.result + "  " +
                           print.printer + "  run " + print.run;
        if (print.reprint) line += "  reprint" + (print.reason.empty() ? std::string() : ": " + print.reason);
        std::fprintf(out, "%s\n", line.c_str());
    }
    if (!labels.empty()) std::fprintf(out, "\n");
    journal::print(out, runs, false, withStation);
}

}  // namespace

int printUnit(const std::string& unitsPath, const std::string& journalPath, const std::string& labelsPath,
              const std::string& serialOrMac, bool asJson, std::FILE* out, std::FILE* err) {
    std::string text;
    if (readFileBytes(unitsPath, text) == FileRead::Failed) {
        std::fprintf(err, "vornix-cli: cannot read %s\n", unitsPath.c_str());
        return 1;
    }
    const std::vector<UnitBlock> units = parseUnits(text);
    const UnitBlock* unit = isMacText(serialOrMac) ? unitHolding(units, serialOrMac) : unitNamed(units, serialOrMac);
    if (!unit) {
        std::fprintf(err, "vornix-cli: no unit %s in %s\n", serialOrMac.c_str(), unitsPath.c_str());
        return 1;
    }
    std::vector<std::string> records, runs;
    std::string why;
    if (!journal::lastRecords(journalPath, std::numeric_limits<std::size_t>::max(), records, why)) {
        std::fprintf(err, "vornix-cli: %s\n", why.c_str());
        return 1;
    }
    for (const std::string& line : records) {
        const json record = json::parse(line, nullptr, false);
        if (record.is_object() && record.value("serial", "") == unit->serial) runs.push_back(line);
    }
    printPage(*unit, runs, labelsPath, asJson, false, out);
    return 0;
}

bool findStationUnit(const std::string& unitsPath, const std::string& journalPath, std::optional<long long> mac,
                     const std::string& serial, std::optional<LineUnit>& unit,
                     std::vector<LineDatabase::StoredRun>& runs, std::string& why) {
    unit.reset();
    runs.clear();
    std::string text;
    if (readFileBytes(unitsPath, text) == FileRead::Failed) {
        why = "cannot read " + unitsPath;
        return false;
    }
    const std::vector<UnitBlock> units = parseUnits(text);
    const UnitBlock* found = nullptr;
    if (mac) {
        for (const UnitBlock& candidate : units) {
            const std::optional<long long> first = parseMac(candidate.first);
            if (first && *mac >= *first && *mac < *first + candidate.count) found = &candidate;
        }
    } else {
        found = unitNamed(units, serial);
    }
    if (!found) return true;
    const std::optional<long long> first = parseMac(found->first);
    if (!first) return true;
    std::vector<std::string> records;
    if (!journal::lastRecords(journalPath, std::numeric_limits<std::size_t>::max(), records, why)) return false;
    LineUnit shown{found->serial, std::string(), *first, found->count, std::string(), found->runId};
    for (const std::string& line : records) {
        // The view refuses what it cannot take itself; only the serial is read here.
        const json record = json::parse(line, nullptr, false);
        if (!record.is_object() || record.value("serial", json()) != json(found->serial)) continue;
        const std::string runId = record.value("run", json()).is_string() ? record["run"].get<std::string>() : "";
        const std::string started = record.value("started", json()).is_string() ? record["started"].get<std::string>() : "";
        if (runId == found->runId) shown.boundAt = started;
        runs.push_back({runId, std::string(), started, line});
    }
    unit = shown;
    return true;
}

std::function<bool(std::optional<long long>, const std::string&, std::optional<LineUnit>&,
                   std::vector<LineDatabase::StoredRun>&, std::string&)>
stationUnitLookup(const std::string& directory) {
    const std::string separator(1, platform::pathSeparator());
    return [units = directory + separator + Station::unitsName, journal = directory + separator + journal::fileName](
               std::optional<long long> mac, const std::string& serial, std::optional<LineUnit>& unit,
               std::vector<LineDatabase::StoredRun>& runs, std::string& why) {
        return findStationUnit(units, journal, mac, serial, unit, runs, why);
    };
}

int printLineUnit(const std::string& database, int timeoutSeconds, const std::string& labelsPath,
                  const std::string& serialOrMac, bool asJson, std::FILE* out, std::FILE* err) {
    // Filled by the call's thread, which may outlive an unanswered call.
    struct Found {
        std::optional<LineUnit> unit;
        std::vector<LineDatabase::StoredRun> runs;
    };
    auto found = std::make_shared<Found>();
    const std::optional<long long> mac = isMacText(serialOrMac) ? parseMac(serialOrMac) : std::nullopt;
    LineClient client(database, std::string(), timeoutSeconds);
    const LineClient::Answer answer = client.call([found, mac, serialOrMac](LineDatabase& db) -> LineClient::Answer {
        std::string diagnostic;
        const bool read = (mac ? db.findUnitHolding(*mac, found->unit, diagnostic)
                               : db.findUnit(serialOrMac, found->unit, diagnostic)) &&
                          (!found->unit || db.readUnitRuns(found->unit->serial, found->runs, diagnostic));
        return {read ? LineClient::Status::Done : LineClient::Status::Failed, diagnostic};
    });
    if (answer.status != LineClient::Status::Done) {
        std::fprintf(err, "vornix-cli: %s\n",
                     answer.status == LineClient::Status::Unanswered ? client.unansweredLine().c_str()
                                                                     : answer.diagnostic.c_str());
        return 1;
    }
    if (!found->unit) {
        std::fprintf(err, "vornix-cli: no unit %s in the line database\n", serialOrMac.c_str());
        return 1;
    }
    const LineUnit& unit = *found->unit;
    // Each run under its station's name in the line, as the pools and the
    // line view name it (a record names the host).
    std::vector<std::string> runs;
    for (const LineDatabase::StoredRun& run : found->runs) {
        json record = json::parse(run.record, nullptr, false);
        if (!record.is_object()) continue;
        record["station"] = run.station;
        runs.push_back(record.dump(-1, ' ', false, json::error_handler_t::replace));
    }
    printPage({unit.serial, formatMac(unit.first), unit.count, unit.runId}, runs, labelsPath, asJson, true, out);
    return 0;
}

}  // namespace vornix
