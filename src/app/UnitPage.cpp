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
#include "records/LineClient.h"

namespace vornix {

using json = nlohmann::ordered_json;

namespace {

std::string textOf(const json& object, const char* key) {
    return object.contains(key) && object[key].is_string() ? object[key].get<std::string>() : std::string();
}

// The reprints of serial's labels in the station's labels journal (none when
// it has none yet), each a JSON object.
std::vector<json> reprintsOf(const std::string& labelsPath, const std::string& serial) {
    std::string text;
    std::vector<json> reprints;
    if (labelsPath.empty() || readFileBytes(labelsPath, text) != FileRead::Ok) return reprints;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const json line = json::parse(text.substr(start, end - start), nullptr, false);
        if (line.is_object() && textOf(line, "serial") == serial) reprints.push_back(line);
        start = end + 1;
    }
    return reprints;
}

// Every label of the unit, printed or not, in time order: its runs' own and
// the reprints.
json labelsOf(const json& runRecords, const std::vector<json>& reprints) {
    std::vector<json> prints;
    for (const json& record : runRecords)
        if (record.contains("labels") && record["labels"].is_array())
            for (const json& label : record["labels"]) {
                if (!label.is_object()) continue;
                json print = {{"time", textOf(label, "time")}, {"printer", textOf(label, "printer")},
                              {"result", textOf(label, "result")}, {"run", textOf(record, "run")}, {"reprint", false}};
                if (!textOf(label, "reason").empty()) print["reason"] = textOf(label, "reason");
                prints.push_back(print);
            }
    for (const json& line : reprints) {
        json print = {{"time", textOf(line, "time")}, {"printer", textOf(line, "printer")},
                      {"result", textOf(line, "result")}, {"run", textOf(line, "run")}, {"reprint", true}};
        if (!textOf(line, "reason").empty()) print["reason"] = textOf(line, "reason");
        prints.push_back(print);
    }
    std::stable_sort(prints.begin(), prints.end(),
                     [](const json& a, const json& b) { return textOf(a, "time") < textOf(b, "time"); });
    return json(prints);
}

// The unit and its runs' records (oldest first), wherever they were kept,
// with its labels' reprints; withStation: the runs come from more than one
// station's.
void printPage(const UnitBlock& unit, const std::vector<std::string>& runs, const std::vector<json>& reprints,
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
    const json labels = labelsOf(runRecords, reprints);
    MacBlock block;
    block.setStartMac(unit.first);
    const std::string last = block.formatMac(MacBlock::readCounter(unit.first) + unit.count - 1);
    if (asJson) {
        json page = {{"serial", unit.serial},
                     {"block", {{"first", unit.first}, {"last", last}, {"count", unit.count}}},
                     {"boundBy", unit.runId},
                     {"versions", versions},
                     {"runs", runRecords}};
        if (!labels.empty()) page["labels"] = labels;
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
        const json& print = labels[i];
        std::string line = (i == 0 ? "labels    " : "          ") + textOf(print, "time") + "  " +
                           textOf(print, "result") + "  " + textOf(print, "printer") + "  run " + textOf(print, "run");
        if (print.value("reprint", false))
            line += "  reprint" + (textOf(print, "reason").empty() ? std::string() : ": " + textOf(print, "reason"));
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
    printPage(*unit, runs, reprintsOf(labelsPath, unit->serial), asJson, false, out);
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
    printPage({unit.serial, formatMac(unit.first), unit.count, unit.runId}, runs, reprintsOf(labelsPath, unit.serial),
              asJson, true, out);
    return 0;
}

}  // namespace vornix
