#include "app/UnitPage.h"

#include <algorithm>
#include <limits>
#include <nlohmann/json.hpp>
#include <vector>

#include "config/FileBytes.h"
#include "procedures/MacBlock.h"
#include "procedures/UnitBook.h"
#include "records/Journal.h"

namespace vornix {

using json = nlohmann::ordered_json;

int printUnit(const std::string& unitsPath, const std::string& journalPath, const std::string& serialOrMac,
              bool asJson, std::FILE* out, std::FILE* err) {
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
    std::vector<std::string> versions;
    json runRecords = json::array();
    for (const std::string& line : records) {
        const json record = json::parse(line, nullptr, false);
        if (!record.is_object() || record.value("serial", "") != unit->serial) continue;
        runs.push_back(line);
        runRecords.push_back(record);
        if (record.contains("boot") && record["boot"].is_object()) {
            const std::string found = record["boot"].value("found", "");
            if (!found.empty() && std::find(versions.begin(), versions.end(), found) == versions.end())
                versions.push_back(found);
        }
    }
    MacBlock block;
    block.setStartMac(unit->first);
    const std::string last = block.formatMac(MacBlock::readCounter(unit->first) + unit->count - 1);
    if (asJson) {
        const json page = {{"serial", unit->serial},
                           {"block", {{"first", unit->first}, {"last", last}, {"count", unit->count}}},
                           {"boundBy", unit->runId},
                           {"versions", versions},
                           {"runs", runRecords}};
        std::fprintf(out, "%s\n", page.dump(-1, ' ', false, json::error_handler_t::replace).c_str());
        return 0;
    }
    std::fprintf(out, "unit      %s\nblock     %s - %s (%d)\nversions  %s\n\n", unit->serial.c_str(),
                 unit->first.c_str(), last.c_str(), unit->count,
                 versions.empty() ? "-" : [&] {
                     std::string all;
                     for (const std::string& v : versions) all += (all.empty() ? "" : ", ") + v;
                     return all;
                 }().c_str());
    journal::print(out, runs, false);
    return 0;
}

}  // namespace vornix
