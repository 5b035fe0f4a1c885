#include "view/LineView.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "records/Journal.h"
#include "records/LabelValues.h"
#include "records/LineClient.h"

namespace vornix::view {

using nlohmann::json;

namespace {

constexpr Millis hour = 3600000;
// Questions about one run or address asked of the database at once; more
// are answered 503 at once rather than keep the server's workers waiting.
constexpr int maxLookups = 4;
// Refused records said on stderr, one line each; beyond, only their count.
constexpr int maxRefusalLines = 100;
// Refused runs whose page says why.
constexpr std::size_t maxRefusedRuns = 10000;
// A record stored by a station whose clock is behind the newest one seen
// by less than this is still found by the next refresh.
constexpr Millis databaseMargin = 10 * 60000;

LineView::Answer badRequest(const std::string& why) { return {400, json{{"error", why}}}; }

const char* resultKey(Result result) {
    switch (result) {
    case Result::Succeeded: return "succeeded";
    case Result::Interrupted: return "interrupted";
    case Result::Failed: break;
    }
    return "failed";
}

const char* stageStateKey(StageState state) {
    switch (state) {
    case StageState::Succeeded: return "succeeded";
    case StageState::Failed: return "failed";
    case StageState::NotRun: return "not run";
    case StageState::NotChosen: break;
    }
    return "not chosen";
}

// The spans the Line page offers.
std::optional<Millis> spanLength(const std::string& span) {
    if (span == "1h") return hour;
    if (span == "8h") return 8 * hour;
    if (span == "24h") return 24 * hour;
    if (span == "7d") return 7 * 24 * hour;
    return std::nullopt;
}

// The tables' whole-second UTC text.
std::string secondsText(Millis time) { return utcText(time).substr(0, 19) + "Z"; }

std::string param(const LineView::Params& params, const char* name) {
    const auto found = params.find(name);
    return found == params.end() ? std::string() : found->second;
}

bool wholeNumber(const std::string& text, long long low, long long high, long long& value) {
    if (text.empty() || text.size() > 9 || !std::all_of(text.begin(), text.end(), ::isdigit)) return false;
    value = std::stoll(text);
    return value >= low && value <= high;
}

json nullable(const std::optional<long long>& value) { return value ? json(*value) : json(nullptr); }

json share(long long part, long long whole) {
    return whole ? json(static_cast<double>(part) / static_cast<double>(whole)) : json(nullptr);
}

// A station's or a port's tally, with its first-pass share, beside its own fields.
json figures(const RunCounts& counts, json fields) {
    fields["runs"] = counts.runs;
    fields["succeeded"] = counts.succeeded;
    fields["failed"] = counts.failed;
    fields["interrupted"] = counts.interrupted;
    fields["yield"] = share(counts.succeeded, counts.runs);
    return fields;
}

// A gang station's ports, figured as its stations are.
json portList(const std::vector<PortFigures>& ports) {
    json list = json::array();
    for (const PortFigures& p : ports)
        list.push_back(figures(p, {{"port", p.port},
                                   {"interface", p.interfaceName},
                                   {"topFailure", p.topFailureCount
                                                      ? json{{"line", p.topFailure}, {"count", p.topFailureCount}}
                                                      : json(nullptr)}}));
    return list;
}

}  // namespace

LineView::LineView(Options options)
    : options_(std::move(options)),
      journalPath_(options_.directory + "/" + journal::fileName),
      transcriptsPath_(options_.directory + "/" + journal::transcriptDirectory),
      now_([] {
          return std::chrono::duration_cast<std::chrono::milliseconds>(
                     std::chrono::system_clock::now().time_since_epoch())
              .count();
      }) {
    if (!options_.database.empty())
        poller_ = std::make_unique<LineClient>(options_.database, "line view", lineTimeoutSeconds(options_.timeoutSeconds));
}

LineView::~LineView() {
    {
        std::lock_guard<std::mutex> lock(followMutex_);
        stopping_ = true;
    }
    followWake_.notify_all();
    if (follower_.joinable()) follower_.join();
}

void LineView::refreshJournal() {
    struct stat file {};
    const bool exists = ::stat(journalPath_.c_str(), &file) == 0;
    const long long size = exists ? static_cast<long long>(file.st_size) : 0;
    // A journal replaced or cut shorter is read from its start.
    if ((exists && static_cast<unsigned long long>(file.st_ino) != journalFile_ && journalOffset_ > 0) ||
        size < journalOffset_) {
        index_.clear();
        journalOffset_ = 0;
        skippingLine_ = false;
        refused_.clear();
        databaseRuns_.clear();
        databaseLoaded_ = false;
        databaseNewest_.clear();
    }
    if (!exists || size == journalOffset_) return;
    journalFile_ = static_cast<unsigned long long>(file.st_ino);
    std::ifstream in(journalPath_, std::ios::binary);
    if (!in.seekg(journalOffset_)) return;
    std::string chunk(static_cast<std::size_t>(std::min<long long>(size - journalOffset_, 4 << 20)), '\0');
    std::string pending;
    long long lineStart = journalOffset_;
    while (in) {
        in.read(&chunk[0], static_cast<std::streamsize>(chunk.size()));
        const std::size_t got = static_cast<std::size_t>(in.gcount());
        if (got == 0) break;
        std::size_t from = 0;
        if (skippingLine_) {
            const void* newline = std::memchr(chunk.data(), '\n', got);
            if (!newline) {
                lineStart += static_cast<long long>(got);
                continue;
            }
            from = static_cast<std::size_t>(static_cast<const char*>(newline) - chunk.data()) + 1;
            lineStart += static_cast<long long>(from);
            skippingLine_ = false;
        }
        pending.append(chunk, from, got - from);
        std::size_t begin = 0;
        for (std::size_t end; (end = pending.find('\n', begin)) != std::string::npos; begin = end + 1) {
            const std::string_view line(pending.data() + begin, end - begin);
            std::string refusal;
            if (std::optional<ParsedRun> parsed = parseRecord(line, &refusal)) {
                parsed->run.fromJournal = true;
                if (!options_.station.empty()) parsed->station = options_.station;
                parsed->run.offset = lineStart;
                parsed->run.length = static_cast<std::uint32_t>(line.size());
                index_.add(std::move(*parsed));
            } else if (!refusal.empty()) {
                std::string id;
                recordRefusal(line, &id);
                refuse("the journal's line at byte " + std::to_string(lineStart), refusal, id);
            }
            lineStart += static_cast<long long>(end - begin + 1);
        }
        pending.erase(0, begin);
        // A line longer than any record is skipped to its end, never held whole.
        if (pending.size() > maxRecordBytes) {
            std::string id;
            recordRefusal(std::string_view(pending).substr(0, 4096), &id);
            refuse("the journal's line at byte " + std::to_string(lineStart),
                   "larger than " + std::to_string(maxRecordBytes >> 20) + " MiB", id);
            lineStart += static_cast<long long>(pending.size());
            pending.clear();
            skippingLine_ = true;
        }
    }
    // A torn last line waits for its end.
    journalOffset_ = lineStart;
}

namespace {

// One read within the client's deadline; what it reads goes to memory the
// read shares, since a read given up may still end later.
template <typename Read>
LineClient::Answer ask(LineClient& client, Read read) {
    return client.call([read](LineDatabase& db) {
        LineClient::Answer a;
        a.status = read(db, a.diagnostic) ? LineClient::Status::Done : LineClient::Status::Failed;
        return a;
    });
}

std::string failureLine(const LineClient& client, const LineClient::Answer& answer) {
    return answer.status == LineClient::Status::Unanswered ? client.unansweredLine() : answer.diagnostic;
}

}  // namespace

void LineView::refuse(const std::string& where, const std::string& why, const std::string& runId) {
    if (!runId.empty() && (refused_.size() < maxRefusedRuns || refused_.count(runId))) refused_[runId] = why;
    if (refusedLogged_ < maxRefusalLines)
        std::fprintf(stderr, "vornix-cli: %s%s%s is not read as a record: %s\n", where.c_str(),
                     runId.empty() ? "" : " (run ", runId.empty() ? "" : (runId + ")").c_str(), why.c_str());
    else if (refusedLogged_ == maxRefusalLines)
        std::fputs("vornix-cli: more records are refused; they are no longer said\n", stderr);
    ++refusedLogged_;
}

int LineView::fullReads() {
    std::lock_guard<std::mutex> lock(mutex_);
    return fullReads_;
}

bool LineView::readDatabaseRuns(const std::string& since, std::unordered_set<std::string>* present) {
    std::string after;
    for (;;) {
        auto page = std::make_shared<std::vector<LineDatabase::StoredRun>>();
        const LineClient::Answer answer = ask(*poller_, [page, after, since](LineDatabase& db, std::string& why) {
            return db.readRuns(after, since, *page, why);
        });
        std::lock_guard<std::mutex> lock(mutex_);
        if (answer.status != LineClient::Status::Done) {
            databaseError_ = failureLine(*poller_, answer);
            return false;
        }
        for (LineDatabase::StoredRun& stored : *page) {
            (present ? *present : databaseRuns_).insert(stored.runId);
            if (stored.recordedAt > databaseNewest_) databaseNewest_ = stored.recordedAt;
            std::string refusal;
            if (std::optional<ParsedRun> parsed = parseRecord(stored.record, &refusal)) {
                parsed->station = stored.station;  // its name in the line
                // The database's own assignments answer for its addresses.
                parsed->addresses.clear();
                index_.add(std::move(*parsed));
            } else if (!refusal.empty() && !refused_.count(stored.runId)) {
                refuse("the line database's record", refusal, stored.runId);
            }
        }
        if (static_cast<int>(page->size()) < LineDatabase::runPage) return true;
        after = page->back().runId;
    }
}

// The spans the pools' rates are counted over, and /api/pools's.
const Millis poolSpans[] = {hour, 8 * hour, 24 * hour, 7 * 24 * hour};

void LineView::readPools() {
    const Millis now = now_();
    std::vector<std::string> since;
    for (Millis span : poolSpans) since.push_back(secondsText(now - span));
    auto figures = std::make_shared<std::vector<LineDatabase::PoolFigures>>();
    const LineClient::Answer answer = ask(*poller_, [figures, since](LineDatabase& db, std::string& why) {
        return db.poolFigures(since, *figures, why);
    });
    std::lock_guard<std::mutex> lock(mutex_);
    if (answer.status == LineClient::Status::Done) pools_ = std::move(*figures);
    else databaseError_ = failureLine(*poller_, answer);
}

void LineView::pollDatabase(bool all) {
    std::string since;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        all = all || !databaseLoaded_;
        databaseError_.clear();
        const std::optional<Millis> newest = parseUtc(databaseNewest_);
        if (!all && newest) since = secondsText(*newest - databaseMargin);
    }
    const auto now = std::chrono::steady_clock::now();
    const bool read = readDatabaseRuns(since);
    if (all && read) {
        std::lock_guard<std::mutex> lock(mutex_);
        databaseLoaded_ = true;
        counted_ = now;
        ++fullReads_;
    }
    // A station whose clock is far behind stored a record the margin
    // missed, or a run was deleted: the count says so. Counting a large
    // table costs, so not often. One whole read then makes the runs the
    // database holds the count to compare with; a deleted run stays shown.
    if (read && !all && now - counted_ >= std::chrono::seconds(options_.recountSeconds)) {
        counted_ = now;
        auto count = std::make_shared<long long>(0);
        const LineClient::Answer answer =
            ask(*poller_, [count](LineDatabase& db, std::string& why) { return db.countRuns(*count, why); });
        bool differs = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            differs = answer.status == LineClient::Status::Done &&
                      *count != static_cast<long long>(databaseRuns_.size());
        }
        std::unordered_set<std::string> present;
        if (differs && readDatabaseRuns("", &present)) {
            std::lock_guard<std::mutex> lock(mutex_);
            databaseRuns_ = std::move(present);
            ++fullReads_;
        }
    }
    readPools();
}

std::string LineView::load() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        refreshJournal();
    }
    if (!poller_) return std::string();
    std::lock_guard<std::mutex> polling(databaseMutex_);
    pollDatabase(true);
    std::lock_guard<std::mutex> lock(mutex_);
    return databaseError_;
}

void LineView::poll() {
    if (!poller_) return;
    std::lock_guard<std::mutex> polling(databaseMutex_);
    pollDatabase(false);
}

void LineView::follow() {
    if (!poller_ || follower_.joinable()) return;
    follower_ = std::thread([this] {
        std::unique_lock<std::mutex> lock(followMutex_);
        while (!followWake_.wait_for(lock, std::chrono::seconds(2), [this] { return stopping_; })) {
            lock.unlock();
            poll();
            lock.lock();
        }
    });
}

LineView::Answer LineView::api(const std::string& path, const Params& params) {
    // These may wait for the database: they take the index only briefly.
    if (path == "/api/run") return run(params);
    if (path == "/api/address") return address(params);
    if (path == "/api/unit") return unit(params);
    std::lock_guard<std::mutex> lock(mutex_);
    refreshJournal();
    if (path == "/api/summary") return summary(params);
    if (path == "/api/runs") return runs(params);
    if (path == "/api/pools") return {200, json{{"pools", pools(3, poolSpans[3])}}};
    return {404, json{{"error", "no such request: " + path}}};
}

json LineView::pools(std::size_t span, Millis length) const {
    json list = json::array();
    const double days = static_cast<double>(length) / (24.0 * hour);
    for (const LineDatabase::PoolFigures& pool : pools_) {
        const long long assigned = span < pool.assignedSince.size() ? pool.assignedSince[span] : 0;
        const double perDay = static_cast<double>(assigned) / days;
        list.push_back({{"name", pool.name},
                        {"first", formatMac(pool.first)},
                        {"last", formatMac(pool.last)},
                        {"size", pool.last - pool.first + 1},
                        {"used", pool.assigned},
                        {"held", pool.held},
                        {"free", pool.free},
                        {"perDay", std::round(perDay * 10) / 10},
                        {"daysLeft", perDay > 0 ? json(std::round(pool.free / perDay * 10) / 10) : json(nullptr)}});
    }
    return list;
}

LineView::Answer LineView::summary(const Params& params) {
    const std::string span = params.count("span") ? param(params, "span") : "8h";
    const std::optional<Millis> length = spanLength(span);
    if (!length) return badRequest("span must be 1h, 8h, 24h or 7d");
    const std::size_t spanIndex = static_cast<std::size_t>(
        std::find(std::begin(poolSpans), std::end(poolSpans), *length) - std::begin(poolSpans));
    const Millis to = now_(), from = to - *length;
    const SpanSummary s = index_.summarize(from, to);

    json stations = json::array();
    for (const StationFigures& f : s.stations)
        stations.push_back(
            figures(f, {{"station", f.station}, {"routers", f.routers}, {"ports", portList(f.ports)}}));
    json hours = json::array();
    for (const HourFigures& h : s.hours)
        hours.push_back({{"hour", utcText(h.hour)}, {"succeeded", h.succeeded}, {"failed", h.failed}});
    json failures = json::array();
    for (std::size_t i = 0; i < s.failures.size() && i < 20; ++i)
        failures.push_back({{"line", s.failures[i].first}, {"count", s.failures[i].second}});
    json stages = json::array();
    for (int i = 0; i < stageCount; ++i)
        stages.push_back({{"stage", stageKeys[i]},
                          {"runs", s.stages[i].runs},
                          {"medianMs", nullable(s.stages[i].medianMs)},
                          {"p90Ms", nullable(s.stages[i].p90Ms)}});
    json poolList = pools(spanIndex, *length);
    return {200,
            json{{"span", span},
                 {"from", utcText(from)},
                 {"to", utcText(to)},
                 {"sources", {{"journal", journalPath_}, {"database", hasDatabase()}, {"databaseError", databaseError_}}},
                 {"runs", s.runs},
                 {"succeeded", s.succeeded},
                 {"failed", s.failed},
                 {"interrupted", s.interrupted},
                 {"routers", s.routers},
                 {"firstPassRouters", s.firstPassRouters},
                 {"firstPassYield", share(s.firstPassRouters, s.routers)},
                 {"stations", stations},
                 {"hours", hours},
                 {"failures", failures},
                 {"stages", stages},
                 {"pools", poolList}}};
}

json LineView::runSummary(const Run& run) const {
    json ticked = json::array(), stages = json::object();
    for (int i = 0; i < stageCount; ++i) {
        if (run.stages[i] == StageState::NotChosen) continue;
        ticked.push_back(stageKeys[i]);
        stages[stageKeys[i]] = {
            {"result", stageStateKey(run.stages[i])},
            {"ms", run.stageMs[i]},
            {"failure",
             run.stageFailure[i] >= 0 ? index_.name(static_cast<std::uint32_t>(run.stageFailure[i])) : std::string()}};
    }
    return {{"run", run.id},
            {"station", index_.name(run.station)},
            {"router", index_.name(run.router)},
            {"started", utcText(run.started)},
            {"ended", utcText(run.ended)},
            {"result", resultKey(run.result)},
            {"ticked", ticked},
            {"stages", stages},
            {"firstMac", run.firstMac >= 0 ? formatMac(run.firstMac) : std::string()},
            {"source", run.fromJournal ? "journal" : "database"}};
}

LineView::Answer LineView::runs(const Params& params) {
    RunFilter filter;
    filter.station = param(params, "station");
    if (filter.station.size() > maxStationName) return badRequest("station is longer than 127 bytes");
    const std::string result = param(params, "result");
    if (result == "succeeded") filter.result = Result::Succeeded;
    else if (result == "failed") filter.result = Result::Failed;
    else if (result == "interrupted") filter.result = Result::Interrupted;
    else if (!result.empty()) return badRequest("result must be succeeded, failed or interrupted");
    const std::string stage = param(params, "stage");
    for (int i = 0; i < stageCount; ++i)
        if (stage == stageKeys[i]) filter.stage = i;
    if (!stage.empty() && filter.stage < 0) return badRequest("stage must be mac, boot or firmware");
    for (const auto& [name, bound] : {std::pair<const char*, Millis*>{"from", &filter.from}, {"to", &filter.to}}) {
        const std::string text = param(params, name);
        if (text.empty()) continue;
        const std::optional<Millis> time = parseUtc(text);
        if (!time) return badRequest(std::string(name) + " must be a UTC time like 2026-12-09T08:00:00Z");
        *bound = *time;
    }
    long long page = 1, size = 50;
    if (params.count("page") && !wholeNumber(param(params, "page"), 1, 1000000, page))
        return badRequest("page must be a whole number from 1 to 1000000");
    if (params.count("size") && !wholeNumber(param(params, "size"), 1, 500, size))
        return badRequest("size must be a whole number from 1 to 500");
    std::vector<const Run*> found;
    const std::size_t total = index_.select(filter, static_cast<std::size_t>((page - 1) * size),
                                            static_cast<std::size_t>(size), found);
    json list = json::array();
    for (const Run* r : found) list.push_back(runSummary(*r));
    return {200, json{{"total", total}, {"page", page}, {"size", size}, {"runs", list}}};
}

template <typename Read>
bool LineView::lookup(Read read, std::string& failure) {
    std::unique_ptr<LineClient> client;
    {
        std::lock_guard<std::mutex> lock(lookupMutex_);
        if (lookupsOut_ >= maxLookups) {
            failure = "Can't reach the line database: " + std::to_string(maxLookups) +
                      " questions are waiting for it already";
            return false;
        }
        ++lookupsOut_;
        if (!lookupClients_.empty()) {
            client = std::move(lookupClients_.back());
            lookupClients_.pop_back();
        }
    }
    if (!client)
        client = std::make_unique<LineClient>(options_.database, "line view", lineTimeoutSeconds(options_.timeoutSeconds));
    const LineClient::Answer answer = ask(*client, read);
    if (answer.status != LineClient::Status::Done) failure = failureLine(*client, answer);
    std::lock_guard<std::mutex> lock(lookupMutex_);
    --lookupsOut_;
    lookupClients_.push_back(std::move(client));
    return answer.status == LineClient::Status::Done;
}

namespace {

// A transcript's name as a path of the view: every byte but the unreserved ones escaped.
std::string transcriptUrl(const std::string& name) {
    static const char hex[] = "0123456789ABCDEF";
    std::string url = "/transcripts/";
    for (unsigned char c : name) {
        if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-' || c == '.' || c == '_' || c == '~') {
            url += static_cast<char>(c);
        } else {
            url += '%';
            url += hex[c >> 4];
            url += hex[c & 15];
        }
    }
    return url;
}

LineView::Answer refusedRecord(const std::string& why) {
    return {502, json{{"error", "The run's record is not shown: " + why}}};
}

}  // namespace

LineView::Answer LineView::run(const Params& params) {
    const std::string id = param(params, "id");
    if (id.empty() || id.size() > maxRunId) return badRequest("id must name a run");
    bool inJournal = false;
    long long offset = 0;
    std::uint32_t length = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        refreshJournal();
        const Run* known = index_.find(id);
        if (known && known->fromJournal) {
            inJournal = true;
            offset = known->offset;
            length = known->length;
        } else if (!known) {
            const auto refused = refused_.find(id);
            if (refused != refused_.end()) return refusedRecord(refused->second);
        }
    }
    std::string text;
    std::string source = "journal";
    if (inJournal) {
        std::ifstream in(journalPath_, std::ios::binary);
        text.assign(length, '\0');
        if (!in.seekg(offset) || !in.read(&text[0], static_cast<std::streamsize>(text.size()))) text.clear();
    } else if (hasDatabase()) {
        source = "database";
        auto stored = std::make_shared<std::optional<LineDatabase::StoredRun>>();
        std::string failure;
        if (!lookup([stored, id](LineDatabase& db, std::string& why) { return db.readRun(id, *stored, why); },
                    failure))
            return {503, json{{"error", failure}}};
        if (*stored) text = std::move((*stored)->record);
    }
    // The journal may have been replaced since it was indexed, and the
    // database holds what any station stored: checked before it is parsed.
    const std::string refusal = recordRefusal(text);
    if (!refusal.empty()) {
        std::fprintf(stderr, "vornix-cli: run %s: its record in the %s is not read: %s\n", id.c_str(),
                     source == "journal" ? "journal" : "line database", refusal.c_str());
        return refusedRecord(refusal);
    }
    json record = text.empty() ? json() : json::parse(text, nullptr, false);
    if (!record.is_object() || !record.contains("run") || record["run"] != id)
        return {404, json{{"error", "no such run"}}};
    // The record names it below the station directory: "transcripts/<name>".
    std::string name = record.value("transcript", json()).is_string() ? record["transcript"].get<std::string>() : "";
    const std::string folder = std::string(journal::transcriptDirectory) + "/";
    if (name.rfind(folder, 0) == 0) name.erase(0, folder.size());
    const bool available = transcriptExists(name);
    return {200, json{{"source", source},
                      {"transcriptAvailable", available},
                      {"transcriptUrl", available ? transcriptUrl(name) : std::string()},
                      {"record", record}}};
}

LineView::Answer LineView::address(const Params& params) {
    const std::optional<long long> mac = parseAnyMac(param(params, "mac"));
    if (!mac) return badRequest("mac must be an address like 00:11:22:33:44:55, 00-11-22-33-44-55 or 001122334455");
    json answer{{"mac", formatMac(*mac)}, {"found", false}};
    json local;  // the journal's or the index's answer
    std::string localRun, localName;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        refreshJournal();
        if (const std::optional<AddressHolder> holder = index_.holder(*mac)) {
            const Run& run = index_.runs()[holder->run];
            localRun = run.id;
            localName = holder->name;
            local = {{"found", true},
                     {"run", run.id},
                     {"station", index_.name(run.station)},
                     {"router", index_.name(run.router)},
                     {"time", utcText(run.ended)},
                     {"name", holder->name},
                     {"result", resultKey(run.result)},
                     {"block",
                      {{"first", holder->blockFirst >= 0 ? formatMac(holder->blockFirst) : std::string()},
                       {"count", holder->blockCount},
                       {"pool", ""}}},
                     {"source", "journal"}};
        }
    }
    if (hasDatabase()) {
        auto found = std::make_shared<std::optional<LineDatabase::Assignment>>();
        std::string failure;
        if (!lookup([found, m = *mac](LineDatabase& db, std::string& why) { return db.findAssignment(m, *found, why); },
                    failure))
            return {503, json{{"error", failure}}};
        if (*found) {
            const LineDatabase::Assignment& a = **found;
            std::string result;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (const Run* run = index_.find(a.runId)) result = resultKey(run->result);
            }
            answer.update({{"found", true},
                           {"run", a.runId},
                           {"station", a.station},
                           {"router", a.router},
                           {"time", a.assignedAt},
                           {"name", localRun == a.runId ? localName : std::string()},
                           {"result", result},
                           {"block", {{"first", formatMac(a.blockFirst)}, {"count", a.blockCount}, {"pool", a.pool}}},
                           {"spent", a.spent},
                           {"source", "database"}});
            return {200, answer};
        }
    }
    if (!local.is_null()) answer.update(local);
    return {200, answer};
}

LineView::Answer LineView::unit(const Params& params) {
    const std::string key = param(params, "key");
    const std::optional<long long> mac = parseAnyMac(key);
    if (!mac && (key.empty() || key.size() > maxSerial ||
                 std::any_of(key.begin(), key.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; })))
        return badRequest("key must be a unit's serial or one of its MAC addresses");
    // Filled by the lookup's thread, which may outlive an unanswered one.
    struct Found {
        std::optional<LineUnit> unit;
        std::vector<LineDatabase::StoredRun> runs;
    };
    auto found = std::make_shared<Found>();
    std::string failure;
    if (!hasDatabase()) {
        if (!options_.stationUnits)
            return {404, json{{"error", "Units are kept in the line database, and this view has none"}}};
        if (!options_.stationUnits(mac, key, found->unit, found->runs, failure)) return {503, json{{"error", failure}}};
    } else if (!lookup(
                   [found, mac, key](LineDatabase& db, std::string& why) {
                       return (mac ? db.findUnitHolding(*mac, found->unit, why) : db.findUnit(key, found->unit, why)) &&
                              (!found->unit || db.readUnitRuns(found->unit->serial, found->runs, why));
                   },
                   failure)) {
        return {503, json{{"error", failure}}};
    }
    json answer{{"key", key}, {"found", false}, {"source", hasDatabase() ? "database" : "station"}};
    if (!found->unit) return {200, answer};
    const LineUnit& unit = *found->unit;
    json runs = json::array(), versions = json::array();
    std::vector<std::string> records;  // the runs that are records, for their labels
    for (const LineDatabase::StoredRun& stored : found->runs) {
        // Any station may have stored it: checked before it is parsed.
        const std::string refusal = recordRefusal(stored.record);
        json record = refusal.empty() ? json::parse(stored.record, nullptr, false) : json();
        if (!record.is_object()) {
            runs.push_back({{"run", stored.runId},
                            {"station", stored.station},
                            {"refused", refusal.empty() ? "not a record" : refusal}});
            continue;
        }
        const json boot = record.value("boot", json());
        const std::string version =
            boot.is_object() && boot.value("found", json()).is_string() ? boot["found"].get<std::string>() : "";
        if (!version.empty() && std::find(versions.begin(), versions.end(), version) == versions.end())
            versions.push_back(version);
        // Its name in the line, as the view names the database's runs.
        if (!stored.station.empty()) record["station"] = stored.station;
        records.push_back(stored.record);
        runs.push_back(std::move(record));
    }
    // Its labels: its runs' prints, and this station's reprints of them.
    json labels = json::array();
    for (const UnitLabel& label : unitLabels(records, options_.directory + "/" + labelJournalFileName, unit.serial)) {
        json print = {{"time", label.time}, {"printer", label.printer}, {"result", label.result},
                      {"run", label.run},   {"reprint", label.reprint}};
        if (!label.reason.empty()) print["reason"] = label.reason;
        labels.push_back(std::move(print));
    }
    answer.update({{"found", true},
                   {"serial", unit.serial},
                   {"pool", unit.pool},
                   {"block",
                    {{"first", formatMac(unit.first)},
                     {"last", formatMac(unit.first + unit.count - 1)},
                     {"count", unit.count}}},
                   {"boundAt", unit.boundAt},
                   {"boundBy", unit.runId},
                   {"versions", versions},
                   {"labels", labels},
                   {"runs", runs}});
    return {200, answer};
}

bool LineView::plainFileName(const std::string& name) {
    if (name.empty() || name.size() > 255 || name.front() == '.') return false;
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7F || c == '/' || c == '\\' || c == ':') return false;
    return name.find("..") == std::string::npos;
}

bool LineView::transcriptExists(const std::string& name) const {
    struct stat file {};
    return plainFileName(name) && ::lstat((transcriptsPath_ + "/" + name).c_str(), &file) == 0 &&
           S_ISREG(file.st_mode);
}

int LineView::transcript(const std::string& name, int& fd, long long& size) {
    if (!plainFileName(name)) return 400;
    // Opened without following a link, then checked as opened: what is
    // served is the regular file in the folder, not one a link swapped in.
    const int file =
        ::open((transcriptsPath_ + "/" + name).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (file < 0) return 404;
    struct stat status {};
    if (::fstat(file, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(file);
        return 404;
    }
    fd = file;
    size = static_cast<long long>(status.st_size);
    return 200;
}

}  // namespace vornix::view
