#include "view/RunIndex.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <nlohmann/json.hpp>
#include <unordered_set>

#include "records/LineDatabase.h"
#include "records/UtcTime.h"

namespace vornix::view {

const char* const stageKeys[stageCount] = {"mac", "boot", "firmware"};

namespace {

// Days since 1970-01-01 of a civil date (the proleptic Gregorian calendar).
long long daysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yearOfEra = static_cast<unsigned>(y - era * 400);
    const unsigned dayOfYear = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<long long>(dayOfEra) - 719468;
}

bool digits(std::string_view text, std::size_t at, std::size_t count, int& value) {
    if (at + count > text.size()) return false;
    value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::optional<Millis> parseUtc(std::string_view text) {
    int y, mo, d, h, mi, s, ms = 0;
    if (text.size() < 20 || !digits(text, 0, 4, y) || text[4] != '-' || !digits(text, 5, 2, mo) || text[7] != '-' ||
        !digits(text, 8, 2, d) || text[10] != 'T' || !digits(text, 11, 2, h) || text[13] != ':' ||
        !digits(text, 14, 2, mi) || text[16] != ':' || !digits(text, 17, 2, s))
        return std::nullopt;
    std::size_t at = 19;
    if (text[at] == '.') {
        if (!digits(text, at + 1, 3, ms)) return std::nullopt;
        at += 4;
    }
    if (at + 1 != text.size() || text[at] != 'Z') return std::nullopt;
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60) return std::nullopt;
    return ((daysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) * 24 + h) * 60 + mi) * 60000LL +
           s * 1000LL + ms;
}

std::string utcText(Millis time) {
    return UtcTime(std::chrono::system_clock::time_point(std::chrono::milliseconds(time)))
        .format("%04d-%02d-%02dT%02d:%02d:%02d.%03dZ");
}

std::optional<long long> parseAnyMac(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
    // The separator, and after how many digits it comes: 2 (: or -), 4 (.), or none.
    std::size_t group = 0;
    char separator = 0;
    if (text.size() == 17 && (text[2] == ':' || text[2] == '-')) {
        group = 2;
        separator = text[2];
    } else if (text.size() == 14 && text[4] == '.') {
        group = 4;
        separator = '.';
    } else if (text.size() != 12) {
        return std::nullopt;
    }
    long long value = 0;
    std::size_t run = 0;
    for (char c : text) {
        if (group && run == group) {
            if (c != separator) return std::nullopt;
            run = 0;
            continue;
        }
        const int digit = hexValue(c);
        if (digit < 0) return std::nullopt;
        value = value * 16 + digit;
        ++run;
    }
    return value;
}

namespace {

const std::string& textOf(const nlohmann::json& object, const char* key) {
    static const std::string none;
    const auto found = object.find(key);
    return found != object.end() && found->is_string() ? found->get_ref<const std::string&>() : none;
}

StageState stageState(const std::string& text) {
    if (text == "succeeded") return StageState::Succeeded;
    if (text == "failed") return StageState::Failed;
    if (text == "not run") return StageState::NotRun;
    return StageState::NotChosen;
}

// The failure as the Pareto counts it: the addresses in a line differ from
// router to router, the fault does not.
std::string failureKind(const std::string& line) {
    std::string kind = line;
    for (std::size_t at = 0; at + 17 <= kind.size(); ++at)
        if (parseAnyMac(std::string_view(kind).substr(at, 17)) && kind[at + 2] != '.' &&
            (at == 0 || !std::isxdigit(static_cast<unsigned char>(kind[at - 1]))) &&
            (at + 17 == kind.size() || !std::isxdigit(static_cast<unsigned char>(kind[at + 17]))))
            kind.replace(at, 17, "xx:xx:xx:xx:xx:xx");
    return kind;
}

}  // namespace

namespace {

std::string tooDeep() { return "nested deeper than " + std::to_string(maxRecordDepth) + " levels"; }

// The depth alone, as every record is checked: strings (most of a record)
// are passed by memchr to their closing quote.
bool tooDeep(std::string_view text) {
    int depth = 0;
    const char* at = text.data();
    const char* const end = at + text.size();
    while (at < end) {
        const char c = *at++;
        if (c == '"') {
            for (;;) {
                const char* quote = static_cast<const char*>(std::memchr(at, '"', static_cast<std::size_t>(end - at)));
                if (!quote) return false;
                const char* escapes = quote;
                while (escapes > at && escapes[-1] == '\\') --escapes;
                at = quote + 1;
                if ((quote - escapes) % 2 == 0) break;  // not escaped
            }
        } else if (c == '{' || c == '[') {
            if (++depth > maxRecordDepth) return true;
        } else if (c == '}' || c == ']') {
            --depth;
        }
    }
    return false;
}

}  // namespace

std::string recordRefusal(std::string_view text, std::string* runId) {
    if (text.size() > maxRecordBytes)
        return "larger than " + std::to_string(maxRecordBytes >> 20) + " MiB";
    if (!runId) return tooDeep(text) ? tooDeep() : std::string();
    // A refused record's run, for its page: the slower walk that knows keys.
    std::string refusal;
    int depth = 0;
    std::string_view last;  // the last string closed at the top level
    bool runValue = false;  // the next top-level string is the value of "run"
    const std::size_t size = text.size();
    for (std::size_t i = 0; i < size; ++i) {
        const char c = text[i];
        if (c == '"') {
            const std::size_t start = ++i;
            while (i < size && text[i] != '"') i += text[i] == '\\' ? 2 : 1;
            if (depth == 1) {
                last = text.substr(start, std::min(i, size) - start);
                if (runValue && runId && runId->empty() && last.find('\\') == std::string_view::npos)
                    *runId = std::string(last);
                runValue = false;
            }
        } else if (c == '{' || c == '[') {
            runValue = false;
            if (++depth > maxRecordDepth && refusal.empty()) refusal = tooDeep();
        } else if (c == '}' || c == ']') {
            --depth;
        } else if (c == ':') {
            runValue = depth == 1 && last == "run";
        } else if (c == ',') {
            runValue = false;
            last = {};
        }
    }
    return refusal;
}

std::optional<ParsedRun> parseRecord(std::string_view text, std::string* refusal) {
    const std::string why = recordRefusal(text);
    if (!why.empty()) {
        if (refusal) *refusal = why;
        return std::nullopt;
    }
    const nlohmann::json record = nlohmann::json::parse(text, nullptr, false);
    if (!record.is_object()) return std::nullopt;
    ParsedRun parsed;
    Run& run = parsed.run;
    run.id = textOf(record, "run");
    const std::optional<Millis> started = parseUtc(textOf(record, "started"));
    if (run.id.empty() || !started) return std::nullopt;
    run.started = *started;
    run.ended = parseUtc(textOf(record, "ended")).value_or(run.started);
    parsed.station = textOf(record, "station");
    parsed.router = textOf(record, "router");
    const auto port = record.find("port");
    if (port != record.end() && port->is_number_integer() && *port >= 1 && *port <= maxPorts) {
        run.port = port->get<std::uint8_t>();
        parsed.interfaceName = textOf(record, "interface");
    }
    const std::string& result = textOf(record, "result");
    run.result = result == "succeeded" ? Result::Succeeded
                 : result == "interrupted" ? Result::Interrupted
                                           : Result::Failed;

    const auto stages = record.find("stages");
    if (stages != record.end() && stages->is_object())
        for (int i = 0; i < stageCount; ++i) {
            const auto stage = stages->find(stageKeys[i]);
            if (stage == stages->end() || !stage->is_object()) continue;
            run.stages[i] = stageState(textOf(*stage, "result"));
            const auto ms = stage->find("ms");
            if (ms != stage->end() && ms->is_number_integer())
                run.stageMs[i] = static_cast<int>(std::clamp<long long>(ms->get<long long>(), 0, 1LL << 30));
            const std::string& failure = textOf(*stage, "failure");
            if (run.stages[i] == StageState::Failed && !failure.empty()) {
                parsed.failureLines.push_back(failureKind(failure));
                parsed.stageFailures[i] = failure;
            }
        }
    if (run.result == Result::Interrupted) {
        parsed.failureLines = {"interrupted"};
    } else if (run.result == Result::Failed && parsed.failureLines.empty()) {
        // No stage says why (the router did not answer): the log's last line does.
        const auto log = record.find("log");
        if (log != record.end() && log->is_array() && !log->empty() && log->back().is_string())
            parsed.failureLines.push_back(failureKind(log->back().get<std::string>()));
        else
            parsed.failureLines.push_back("failed");
    }
    std::sort(parsed.failureLines.begin(), parsed.failureLines.end());
    parsed.failureLines.erase(std::unique(parsed.failureLines.begin(), parsed.failureLines.end()),
                              parsed.failureLines.end());

    const auto mac = record.find("mac");
    if (mac != record.end() && mac->is_object()) {
        parsed.blockFirst = parseAnyMac(textOf(*mac, "startMacBefore")).value_or(-1);
        const auto addresses = mac->find("addresses");
        if (addresses != mac->end() && addresses->is_array())
            for (const auto& address : *addresses) {
                if (!address.is_object()) continue;
                const std::optional<long long> written = parseAnyMac(textOf(address, "written"));
                if (!written) continue;
                parsed.addresses.emplace_back(textOf(address, "name"), *written);
                if (run.firstMac < 0) run.firstMac = *written;
            }
    }
    return parsed;
}

std::uint32_t RunIndex::intern(const std::string& text) {
    const auto found = nameIds_.find(text);
    if (found != nameIds_.end()) return found->second;
    names_.push_back(text);
    const auto id = static_cast<std::uint32_t>(names_.size() - 1);
    nameIds_.emplace(text, id);
    return id;
}

void RunIndex::add(ParsedRun parsed) {
    Run& run = parsed.run;
    run.station = intern(parsed.station);
    run.router = intern(parsed.router);
    if (run.port) run.interfaceName = intern(parsed.interfaceName);
    for (const std::string& line : parsed.failureLines) run.failures.push_back(intern(line));
    for (int i = 0; i < stageCount; ++i)
        if (!parsed.stageFailures[i].empty()) run.stageFailure[i] = intern(parsed.stageFailures[i]);
    std::size_t index;
    const auto known = byId_.find(run.id);
    if (known != byId_.end()) {
        index = known->second;
        // The journal's record is the run's final one: the database's never replaces it.
        if (runs_[index].fromJournal && !run.fromJournal) return;
        runs_[index] = std::move(run);
    } else {
        index = runs_.size();
        byId_.emplace(run.id, index);
        runs_.push_back(std::move(run));
    }
    ordered_ = false;
    const int count = static_cast<int>(parsed.addresses.size());
    const long long blockFirst = parsed.blockFirst >= 0 ? parsed.blockFirst
                                 : count > 0           ? parsed.addresses.front().second
                                                       : -1;
    for (const auto& [name, address] : parsed.addresses) {
        std::vector<Written>& holders = addresses_[address];
        // A record replaced names its addresses again.
        holders.erase(std::remove_if(holders.begin(), holders.end(), [&](const Written& w) { return w.run == index; }),
                      holders.end());
        holders.push_back({index, intern(name), blockFirst, count});
    }
}

void RunIndex::clear() { *this = RunIndex(); }

const Run* RunIndex::find(const std::string& id) const {
    const auto found = byId_.find(id);
    return found == byId_.end() ? nullptr : &runs_[found->second];
}

const std::vector<std::size_t>& RunIndex::byStart() const {
    if (!ordered_ || order_.size() != runs_.size()) {
        order_.resize(runs_.size());
        for (std::size_t i = 0; i < order_.size(); ++i) order_[i] = i;
        std::stable_sort(order_.begin(), order_.end(),
                         [&](std::size_t a, std::size_t b) { return runs_[a].started < runs_[b].started; });
        // A router is the first address its run wrote. A run that wrote none
        // and failed was a try of the router its station's next run
        // prepared: an operator tries a router again before taking the next.
        // On a gang station the next run on the same port.
        keys_.assign(runs_.size(), 0);
        std::unordered_map<std::uint64_t, std::vector<std::size_t>> tries;  // by station and port
        for (std::size_t index : order_) {
            const Run& run = runs_[index];
            std::vector<std::size_t>& pending = tries[std::uint64_t{run.station} << 8 | run.port];
            if (run.firstMac < 0 && run.result != Result::Succeeded) {
                pending.push_back(index);
                continue;
            }
            const long long key = run.firstMac >= 0 ? run.firstMac : -1 - static_cast<long long>(index);
            keys_[index] = key;
            for (std::size_t tried : pending) keys_[tried] = key;
            pending.clear();
        }
        // Tries that no run followed yet are one router each.
        for (auto& [station, pending] : tries)
            for (std::size_t tried : pending) keys_[tried] = -1 - static_cast<long long>(pending.front());
        ordered_ = true;
    }
    return order_;
}

namespace {

// The value at a share of the sorted values, by nearest rank.
std::optional<long long> rank(std::vector<long long>& values, int percent) {
    if (values.empty()) return std::nullopt;
    std::size_t at = (values.size() * static_cast<std::size_t>(percent) + 99) / 100;
    at = at == 0 ? 0 : at - 1;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(at), values.end());
    return values[at];
}

}  // namespace

SpanSummary RunIndex::summarize(Millis from, Millis to) const {
    SpanSummary summary;
    const std::vector<std::size_t>& order = byStart();
    const auto first = std::lower_bound(order.begin(), order.end(), from,
                                        [&](std::size_t i, Millis t) { return runs_[i].started < t; });
    const auto last = std::upper_bound(first, order.end(), to,
                                       [&](Millis t, std::size_t i) { return t < runs_[i].started; });

    // Each router's first run in every record, oldest first: the first one seen.
    std::unordered_map<long long, std::size_t> firstRun;
    for (auto i = order.begin(); i != last; ++i) firstRun.emplace(routerKey(*i), *i);

    const Millis hourMs = 3600000;
    const Millis firstHour = from - ((from % hourMs) + hourMs) % hourMs;
    for (Millis hour = firstHour; hour <= to; hour += hourMs) summary.hours.push_back({hour, 0, 0});

    std::map<std::uint32_t, StationFigures> stations;
    std::map<std::uint32_t, std::unordered_set<long long>> stationRouters;
    std::unordered_set<long long> routers;
    std::unordered_map<std::uint32_t, long long> failures;
    struct PortTally {
        PortFigures figures;
        std::uint32_t interfaceName = 0;
        std::unordered_map<std::uint32_t, long long> failures;
    };
    std::map<std::pair<std::uint32_t, int>, PortTally> ports;  // by station, then port
    std::vector<long long> stageMs[stageCount];
    for (auto i = first; i != last; ++i) {
        const Run& run = runs_[*i];
        const long long key = routerKey(*i);
        StationFigures& station = stations[run.station];
        summary.count(run.result);
        station.count(run.result);
        const bool succeeded = run.result == Result::Succeeded;
        if (routers.insert(key).second && firstRun[key] == *i && succeeded) ++summary.firstPassRouters;
        stationRouters[run.station].insert(key);
        HourFigures& hour = summary.hours[static_cast<std::size_t>((run.started - firstHour) / hourMs)];
        (succeeded ? hour.succeeded : hour.failed) += 1;
        for (std::uint32_t failure : run.failures) ++failures[failure];
        if (run.port) {
            PortTally& port = ports[{run.station, run.port}];
            port.figures.count(run.result);
            port.interfaceName = run.interfaceName;  // runs come oldest first
            for (std::uint32_t failure : run.failures) ++port.failures[failure];
        }
        for (int s = 0; s < stageCount; ++s)
            if (run.stages[s] == StageState::Succeeded || run.stages[s] == StageState::Failed)
                stageMs[s].push_back(run.stageMs[s]);
    }
    summary.routers = static_cast<long long>(routers.size());
    for (auto& [id, figures] : stations) {
        figures.station = names_[id];
        figures.routers = static_cast<long long>(stationRouters[id].size());
        for (auto port = ports.lower_bound({id, 0}); port != ports.end() && port->first.first == id; ++port) {
            PortTally& tally = port->second;
            tally.figures.port = port->first.second;
            tally.figures.interfaceName = names_[tally.interfaceName];
            // The most frequent line; of equal counts the first in order, as the failures list has it.
            for (const auto& [line, count] : tally.failures)
                if (count > tally.figures.topFailureCount ||
                    (count == tally.figures.topFailureCount && names_[line] < tally.figures.topFailure)) {
                    tally.figures.topFailure = names_[line];
                    tally.figures.topFailureCount = count;
                }
            figures.ports.push_back(std::move(tally.figures));
        }
        summary.stations.push_back(std::move(figures));
    }
    for (const auto& [id, count] : failures) summary.failures.emplace_back(names_[id], count);
    std::sort(summary.failures.begin(), summary.failures.end(),
              [](const auto& a, const auto& b) { return a.second != b.second ? a.second > b.second : a.first < b.first; });
    for (int s = 0; s < stageCount; ++s) {
        summary.stages[s].runs = static_cast<long long>(stageMs[s].size());
        summary.stages[s].medianMs = rank(stageMs[s], 50);
        summary.stages[s].p90Ms = rank(stageMs[s], 90);
    }
    return summary;
}

std::size_t RunIndex::select(const RunFilter& filter, std::size_t skip, std::size_t take,
                             std::vector<const Run*>& page) const {
    page.clear();
    std::optional<std::uint32_t> station;
    if (!filter.station.empty()) {
        const auto found = nameIds_.find(filter.station);
        if (found == nameIds_.end()) return 0;
        station = found->second;
    }
    std::size_t total = 0;
    const std::vector<std::size_t>& order = byStart();
    for (auto i = order.rbegin(); i != order.rend(); ++i) {
        const Run& run = runs_[*i];
        if (filter.to && run.started > filter.to) continue;
        if (filter.from && run.started < filter.from) break;
        if (station && run.station != *station) continue;
        if (filter.result && run.result != *filter.result) continue;
        if (filter.stage >= 0 && run.stages[filter.stage] == StageState::NotChosen) continue;
        if (total >= skip && page.size() < take) page.push_back(&run);
        ++total;
    }
    return total;
}

std::optional<AddressHolder> RunIndex::holder(long long mac) const {
    const auto found = addresses_.find(mac);
    if (found == addresses_.end() || found->second.empty()) return std::nullopt;
    const Written* best = nullptr;
    for (const Written& w : found->second) {
        auto better = [&](const Written& a, const Written& b) {
            const bool as = runs_[a.run].result == Result::Succeeded, bs = runs_[b.run].result == Result::Succeeded;
            return as != bs ? as : runs_[a.run].started > runs_[b.run].started;
        };
        if (!best || better(w, *best)) best = &w;
    }
    return AddressHolder{best->run, names_[best->name], best->blockFirst, best->blockCount};
}

}  // namespace vornix::view
