#include "records/LabelValues.h"

#include <algorithm>
#include <cctype>
#include <nlohmann/json.hpp>

#include "config/FileBytes.h"

namespace vornix {

namespace {

// One address per WRITE_MAC entry: an entry's names all carry its address.
void addAddress(LabelValues& values, const std::string& address) {
    if (std::find(values.macs.begin(), values.macs.end(), address) == values.macs.end()) values.macs.push_back(address);
}

std::string portText(int port) { return port > 0 ? std::to_string(port) : std::string(); }

// A text field of a record; empty when it is missing or not text (a line
// edited by hand never throws).
std::string text(const nlohmann::json& object, const char* key) {
    return object.is_object() && object.contains(key) && object[key].is_string() ? object[key].get<std::string>()
                                                                                : std::string();
}

}  // namespace

LabelValues labelValues(const RunRecord::Data& data, const journal::Station& station, const Secrets& secrets) {
    LabelValues values;
    values.serial = journal::cleanText(secrets, data.serial);
    for (const RunRecord::MacName& mac : data.macs) addAddress(values, journal::cleanText(secrets, mac.written));
    for (const auto& [name, value] : data.environment)
        values.environment.emplace_back(journal::cleanText(secrets, name), journal::cleanText(secrets, value));
    values.port = portText(data.port);
    values.station = journal::cleanText(secrets, station.name);
    values.run = journal::cleanText(Secrets(), data.runId);
    values.date = journal::utcText(data.started).substr(0, 10);
    return values;
}

bool labelValuesOfRecord(const std::string& recordLine, LabelValues& values) {
    using nlohmann::json;
    const json record = json::parse(recordLine, nullptr, false);
    if (!record.is_object()) return false;
    values = LabelValues{};
    values.serial = text(record, "serial");
    if (record.contains("mac") && record["mac"].is_object()) {
        const json& mac = record["mac"];
        if (mac.contains("addresses") && mac["addresses"].is_array())
            for (const json& address : mac["addresses"]) addAddress(values, text(address, "written"));
        if (mac.contains("environment") && mac["environment"].is_array())
            for (const json& variable : mac["environment"])
                values.environment.emplace_back(text(variable, "name"), text(variable, "value"));
    }
    values.port = record.contains("port") && record["port"].is_number_integer() ? portText(record["port"].get<int>())
                                                                                  : std::string();
    values.station = text(record, "station");
    values.run = text(record, "run");
    values.date = text(record, "started").substr(0, 10);
    return true;
}

std::string labelReprintLine(const std::string& runId, const std::string& serial, const RunRecord::Label& label,
                             const Secrets& secrets) {
    nlohmann::ordered_json line;
    line["format"] = journal::formatVersion;
    line["time"] = journal::utcText(label.time);
    line["run"] = journal::cleanText(Secrets(), runId);
    if (!serial.empty()) line["serial"] = journal::cleanText(secrets, serial);
    line["printer"] = journal::cleanText(secrets, label.printer);
    line["result"] = journal::cleanText(secrets, label.result);
    line["reason"] = journal::cleanText(secrets, label.reason);
    return line.dump();
}

bool labelRecordMatches(const std::string& recordLine, const std::string& key) {
    using nlohmann::json;
    const json record = json::parse(recordLine, nullptr, false);
    if (!record.is_object() || text(record, "result") != "succeeded" || key.empty()) return false;
    if (text(record, "run") == key || text(record, "serial") == key) return true;
    auto sameAddress = [&](const std::string& address) {
        if (address.size() != key.size()) return false;
        for (std::size_t i = 0; i < key.size(); ++i)
            if (std::tolower(static_cast<unsigned char>(address[i])) != std::tolower(static_cast<unsigned char>(key[i])))
                return false;
        return true;
    };
    if (!record.contains("mac") || !record["mac"].is_object()) return false;
    if (!record["mac"].contains("addresses") || !record["mac"]["addresses"].is_array()) return false;
    const json& addresses = record["mac"]["addresses"];
    for (const json& address : addresses)
        if (sameAddress(text(address, "written"))) return true;
    return false;
}

std::vector<UnitLabel> unitLabels(const std::vector<std::string>& runRecords, const std::string& labelsPath,
                                  const std::string& serial) {
    using nlohmann::json;
    std::vector<UnitLabel> labels;
    auto labelOf = [](const json& print, const std::string& run, bool reprint) {
        return UnitLabel{text(print, "time"), text(print, "printer"), text(print, "result"), run,
                         text(print, "reason"), reprint};
    };
    for (const std::string& line : runRecords) {
        const json record = json::parse(line, nullptr, false);
        if (!record.is_object() || !record.contains("labels") || !record["labels"].is_array()) continue;
        for (const json& print : record["labels"])
            if (print.is_object()) labels.push_back(labelOf(print, text(record, "run"), false));
    }
    std::string journal;
    if (!labelsPath.empty() && readFileBytes(labelsPath, journal) == FileRead::Ok) {
        for (std::size_t start = 0; start < journal.size();) {
            std::size_t end = journal.find('\n', start);
            if (end == std::string::npos) end = journal.size();
            const json line = json::parse(journal.substr(start, end - start), nullptr, false);
            if (line.is_object() && text(line, "serial") == serial) labels.push_back(labelOf(line, text(line, "run"), true));
            start = end + 1;
        }
    }
    std::stable_sort(labels.begin(), labels.end(), [](const UnitLabel& a, const UnitLabel& b) { return a.time < b.time; });
    return labels;
}

}  // namespace vornix
