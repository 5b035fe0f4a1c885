#include "records/Journal.h"

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>

#include "records/UtcTime.h"

namespace vornix::journal {

namespace {

using nlohmann::json;
using ordered = nlohmann::ordered_json;

const char* const stageKeys[3] = {"mac", "boot", "firmware"};

const char* resultText(StageResult result) {
    switch (result) {
    case StageResult::Succeeded: return "succeeded";
    case StageResult::Failed: return "failed";
    case StageResult::NotRun: return "not run";
    case StageResult::NotChosen: break;
    }
    return "not chosen";
}

// Every text of the record, masked, and made valid UTF-8: router output and
// setup.ini are 8-bit text, which JSON cannot hold as it is.
std::string clean(const Secrets& secrets, const std::string& text) {
    // A log line cut to its length may end inside a secret.
    const std::string masked = secrets.mask(text, text.size() >= maxLogLineLength);
    std::string out;
    out.reserve(masked.size());
    for (unsigned char c : masked) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {  // read as Latin-1
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

}  // namespace

std::string cleanText(const Secrets& secrets, const std::string& text) { return clean(secrets, text); }

std::string utcText(std::chrono::system_clock::time_point time) {
    return UtcTime(time).format("%04d-%02d-%02dT%02d:%02d:%02d.%03dZ");
}

std::string utcFileText(std::chrono::system_clock::time_point time) {
    return UtcTime(time).format("%04d-%02d-%02dT%02d-%02d-%02d.%03dZ");
}

std::string transcriptName(std::chrono::system_clock::time_point started, const std::string& router, int port) {
    std::string safe;
    for (char c : router) safe += (std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-') ? c : '_';
    // The ports of a gang start at the same moment with the same address.
    const std::string slot = port > 0 ? "-port" + std::to_string(port) : std::string();
    return utcFileText(started) + "-" + (safe.empty() ? "no-router" : safe) + slot + ".log";
}

namespace {

// The fields every record starts with, in their order.
ordered heading(const RunRecord::Data& data, const Station& station, const Secrets& secrets) {
    auto text = [&](const std::string& value) { return clean(secrets, value); };
    ordered record;
    record["format"] = formatVersion;
    // Never masked (it carries no secret): the line database and the
    // transcript's heading name the run alike.
    record["run"] = clean(Secrets(), data.runId);
    record["started"] = utcText(data.started);
    record["ended"] = utcText(data.ended);
    record["station"] = text(station.name);
    record["program"] = text(station.program);
    record["router"] = text(data.router);
    if (!data.serial.empty()) record["serial"] = text(data.serial);
    if (data.port > 0) {
        record["port"] = data.port;
        record["interface"] = text(data.interfaceName);
    }
    if (!data.routerHardware.empty()) record["routerHardware"] = text(data.routerHardware);
    return record;
}

// The fields every record ends with.
std::string ending(ordered& record, const RunRecord::Data& data, const std::string& transcript,
                   const Secrets& secrets) {
    if (!data.reusedBlockOf.empty()) record["reusedBlockOf"] = clean(secrets, data.reusedBlockOf);
    // Written to this run's router and never its own: out of circulation.
    if (!data.spentFirst.empty())
        record["spentBlock"] = {{"first", clean(secrets, data.spentFirst)}, {"count", data.spentCount}};
    if (!data.interruption.empty()) record["interruption"] = data.interruption;
    if (!data.labels.empty()) {
        ordered labels = ordered::array();
        for (const RunRecord::Label& label : data.labels) {
            ordered one = {{"time", utcText(label.time)}, {"printer", clean(secrets, label.printer)},
                           {"result", clean(secrets, label.result)}};
            if (!label.reason.empty()) one["reason"] = clean(secrets, label.reason);
            labels.push_back(one);
        }
        record["labels"] = labels;
    }
    ordered log = ordered::array();
    for (const std::string& line : data.log) log.push_back(clean(secrets, line));
    record["log"] = log;
    record["transcript"] = transcript;
    return record.dump();
}

}  // namespace

std::string recordLine(const RunRecord::Data& data, const RunOutcome& outcome, const Station& station,
                       const std::string& transcript, const Secrets& secrets) {
    auto text = [&](const std::string& value) { return clean(secrets, value); };
    ordered record = heading(data, station, secrets);
    record["routerFound"] = outcome.routerFound;
    record["result"] = outcome.succeeded() ? "succeeded" : "failed";

    ordered ticked = ordered::array();
    ordered stages = ordered::object();
    for (int i = 0; i < 3; ++i) {
        if (outcome.stages[i] == StageResult::NotChosen) continue;
        ticked.push_back(stageKeys[i]);
        ordered stage;
        stage["result"] = resultText(outcome.stages[i]);
        stage["failure"] = outcome.stages[i] == StageResult::Failed ? text(data.failure[i]) : "";
        stage["ms"] = outcome.stageMs[i];
        stages[stageKeys[i]] = stage;
    }
    record["ticked"] = ticked;
    record["stages"] = stages;

    if (outcome.stages[0] != StageResult::NotChosen) {
        ordered mac;
        mac["startMacBefore"] = text(data.startMacBefore);
        mac["startMacAfter"] = text(data.startMacAfter);
        ordered names = ordered::array();
        for (const auto& name : data.macs)
            names.push_back({{"name", text(name.name)}, {"written", text(name.written)}, {"readBack", text(name.readBack)}});
        mac["addresses"] = names;
        ordered environment = ordered::array();
        for (const auto& [name, value] : data.environment)
            environment.push_back({{"name", text(name)}, {"value", text(value)}});
        mac["environment"] = environment;
        record["mac"] = mac;
    }
    if (outcome.stages[1] != StageResult::NotChosen) {
        auto bytes = [](long long count) { return count < 0 ? ordered() : ordered(count); };
        record["boot"] = {{"expected", text(data.bootExpected)},
                          {"found", text(data.bootFound)},
                          {"imageBytes", bytes(data.bootImageBytes)},
                          {"arrivedBytes", bytes(data.bootArrivedBytes)}};
    }
    if (outcome.stages[2] != StageResult::NotChosen) record["firmware"] = {{"variant", data.firmwareVariant}};

    return ending(record, data, transcript, secrets);
}

std::string interruptedLine(const RunRecord::Data& data, const Station& station, const std::string& transcript,
                            const Secrets& secrets) {
    auto text = [&](const std::string& value) { return clean(secrets, value); };
    ordered record = heading(data, station, secrets);
    record["result"] = "interrupted";
    record["ticked"] = ordered::array();
    record["stages"] = ordered::object();
    if (!data.startMacBefore.empty() || !data.macs.empty()) {
        ordered mac;
        mac["startMacBefore"] = text(data.startMacBefore);
        mac["startMacAfter"] = text(data.startMacAfter);
        ordered names = ordered::array();
        for (const auto& name : data.macs)
            names.push_back({{"name", text(name.name)}, {"written", text(name.written)}, {"readBack", ""}});
        mac["addresses"] = names;
        record["mac"] = mac;
    }
    return ending(record, data, transcript, secrets);
}

bool lastRecords(const std::string& path, std::size_t count, std::vector<std::string>& records, std::string& why) {
    records.clear();
    std::ifstream in(path, std::ios::binary);
    if (!in) return true;  // no journal yet: no records
    in.seekg(0, std::ios::end);
    std::streamoff position = in.tellg();
    if (position < 0) {
        why = "cannot read " + path;
        return false;
    }
    // From the end backwards, a block at a time, until count records that
    // parse are found or the file's start is reached. carry: the end of a
    // line whose start lies in a block not read yet.
    constexpr std::streamoff block = 64 * 1024;
    std::string carry;
    std::vector<std::string> found;  // newest first
    while (found.size() < count && position > 0) {
        const std::streamoff start = position > block ? position - block : 0;
        std::string data(static_cast<std::size_t>(position - start), '\0');
        in.seekg(start);
        in.read(&data[0], static_cast<std::streamsize>(data.size()));
        if (!in) {
            why = "cannot read " + path;
            return false;
        }
        position = start;
        data += carry;
        std::size_t from = 0;
        if (start > 0) {
            const std::size_t lineEnd = data.find('\n');
            if (lineEnd == std::string::npos) {
                carry = std::move(data);
                continue;
            }
            carry = data.substr(0, lineEnd);
            from = lineEnd + 1;
        }
        for (std::size_t end = data.size(); end > from && found.size() < count;) {
            const std::size_t lineStart = data.rfind('\n', end - 1);
            const std::size_t begin = lineStart == std::string::npos || lineStart < from ? from : lineStart + 1;
            const std::string line = data.substr(begin, end - begin);
            if (!line.empty() && json::accept(line)) found.push_back(line);  // a torn line does not parse
            end = begin == from ? from : begin - 1;
        }
    }
    records.assign(found.rbegin(), found.rend());
    return true;
}

void print(std::FILE* out, const std::vector<std::string>& records, bool asJson, bool withStation) {
    if (asJson) {
        for (const std::string& record : records) std::fprintf(out, "%s\n", record.c_str());
        return;
    }
    auto field = [](const json& object, const char* key) {
        return object.is_object() && object.contains(key) && object[key].is_string() ? object[key].get<std::string>()
                                                                                       : std::string();
    };
    struct Row {
        std::string started, router, port, stages, result, firstMac, serial, station;
    };
    std::vector<Row> rows;
    bool anyPort = false, anySerial = false;
    for (const std::string& line : records) {
        const json record = json::parse(line, nullptr, false);
        if (!record.is_object()) continue;
        Row row{field(record, "started"), field(record, "router"), "-", "", field(record, "result"), "",
                field(record, "serial"), field(record, "station")};
        anySerial = anySerial || !row.serial.empty();
        if (record.contains("port") && record["port"].is_number_integer()) {
            const std::string interfaceName = field(record, "interface");
            row.port = std::to_string(record["port"].get<long long>()) + (interfaceName.empty() ? "" : " " + interfaceName);
            anyPort = true;
        }
        if (record.contains("ticked") && record["ticked"].is_array())
            for (const json& stage : record["ticked"])
                if (stage.is_string()) row.stages += (row.stages.empty() ? "" : ",") + stage.get<std::string>();
        if (record.contains("mac") && record["mac"].contains("addresses") && record["mac"]["addresses"].is_array() &&
            !record["mac"]["addresses"].empty())
            row.firstMac = field(record["mac"]["addresses"][0], "written");
        rows.push_back(std::move(row));
    }
    // A gang station's records name their port; a one-port station's table stays as it was.
    int portWidth = 4;
    for (const Row& row : rows) portWidth = std::max(portWidth, std::min(static_cast<int>(row.port.size()), 24));
    // So does a station's without serials.
    int serialWidth = 6;
    for (const Row& row : rows) serialWidth = std::max(serialWidth, std::min(static_cast<int>(row.serial.size()), 32));
    int stationWidth = 7;
    for (const Row& row : rows) stationWidth = std::max(stationWidth, std::min(static_cast<int>(row.station.size()), 32));
    auto printRow = [&](const Row& row) {
        std::fprintf(out, "%-24s  ", row.started.c_str());
        if (withStation) std::fprintf(out, "%-*s  ", stationWidth, row.station.c_str());
        std::fprintf(out, "%-17s  ", row.router.c_str());
        if (anyPort) std::fprintf(out, "%-*s  ", portWidth, row.port.c_str());
        if (anySerial) std::fprintf(out, "%-*s  ", serialWidth, row.serial.empty() ? "-" : row.serial.c_str());
        std::fprintf(out, "%-19s  %-9s  %s\n", row.stages.empty() ? "-" : row.stages.c_str(), row.result.c_str(),
                     row.firstMac.empty() ? "-" : row.firstMac.c_str());
    };
    printRow({"started (UTC)", "router", "port", "stages", "result", "first MAC", "serial", "station"});
    for (const Row& row : rows) printRow(row);
}

}  // namespace vornix::journal
