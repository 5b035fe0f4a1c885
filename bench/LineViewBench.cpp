// The line view as a station's PC or the line's server runs it: the real
// `vornix-cli --serve` as a child process, asked over HTTP. Two sources:
// a station's journal of 100,000 runs, and a line database of 250,000 runs
// and 1,000,000 assigned addresses in a real PostgreSQL. Each row is
// printed as it is measured; a request that fails or a figure that does
// not match what was generated is a FAILED row, and the exit status is 1.
// The target: every load after the first under 500 ms.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <httplib.h>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "RunGenerator.h"
#include "records/Journal.h"
#include "records/LineDatabase.h"
#include "support/PostgresServer.h"

namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;
using bench::GeneratedRun;
using bench::RunGenerator;

const std::string scratch = "/tmp/vornix-view-bench";
constexpr int postgresPort = 24350;
constexpr int viewPort = 8240;
constexpr int loads = 20;
constexpr int idleConnections = 200;
constexpr int refreshPauseMs = 2500;
constexpr double targetMs = 500;
constexpr long long poolFirst = 0x001122000000LL;

int status = 0;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::string number(double value, const char* format = "%.1f") {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string firstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

void row(const std::string& what, const std::string& median, const std::string& worst, const std::string& verdict) {
    std::printf("%-52s %10s %10s  %s\n", what.c_str(), median.c_str(), worst.c_str(), verdict.c_str());
    std::fflush(stdout);
}

void failedRow(const std::string& what, const std::string& why) {
    row(what, "FAILED", "", why);
    status = 1;
}

// What the generated runs must show: every run's start (journal text, so
// that a span's bounds compare as text), and the figures picked for the
// filtered page and the address.
struct Expected {
    std::vector<std::string> started;
    std::vector<std::string> portStarted;  // the gang stations' runs
    std::string station;  // the filtered page: this station's failed runs
    long long stationFailed = 0;
    std::string mac, macRun;  // one address and the run that wrote it
    long long used = -1;      // the pool's used addresses; -1 without a database

    void add(const GeneratedRun& run) {
        started.push_back(vornix::journal::utcText(run.started));
        if (run.port) portStarted.push_back(started.back());
        stationFailed += run.station == station && run.result == "failed";
    }
    long long within(const std::string& from, const std::string& to, bool onPorts = false) const {
        const std::vector<std::string>& runs = onPorts ? portStarted : started;
        return std::count_if(runs.begin(), runs.end(), [&](const std::string& s) { return s >= from && s <= to; });
    }
};

// The view server as a child process in the station directory; its output
// goes to files there, so that it never waits on a pipe nobody reads.
class ViewServer {
public:
    ViewServer(const std::string& directory, const std::string& address) : address_(address), directory_(directory) {
        const std::string out = directory + "/serve.out", err = directory + "/serve.err";
        const std::string listen = address + ":" + std::to_string(viewPort);
        const auto started = Clock::now();
        pid_ = ::fork();
        if (pid_ == 0) {
            const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (o < 0 || e < 0 || ::dup2(o, 1) < 0 || ::dup2(e, 2) < 0 || ::chdir(directory.c_str()) != 0) _exit(127);
            ::execl(VORNIX_CLI_PATH, VORNIX_CLI_PATH, "--serve", listen.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        // Serving once it says so; the index may be built before or after.
        while (pid_ > 0 && msSince(started) < 600000) {
            std::ifstream in(out);
            std::getline(in, greeting_);
            if (in) break;
            greeting_.clear();
            int child = 0;
            if (::waitpid(pid_, &child, WNOHANG) == pid_) {
                pid_ = -1;
                std::ifstream why(err);
                std::getline(why, failure_);
                failure_ = "it ended at once: " + failure_;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        if (greeting_.empty()) failure_ = "it said nothing within 600 s";
        startMs_ = msSince(started);
    }
    ~ViewServer() { stop(); }
    ViewServer(const ViewServer&) = delete;
    ViewServer& operator=(const ViewServer&) = delete;

    bool ready() const { return pid_ > 0 && !greeting_.empty(); }
    const std::string& failure() const { return failure_; }
    const std::string& greeting() const { return greeting_; }
    double startMs() const { return startMs_; }

    // The process's peak resident memory so far (VmHWM), in KiB; -1 when unknown.
    long peakKiB() const {
        std::ifstream in("/proc/" + std::to_string(pid_) + "/status");
        for (std::string line; std::getline(in, line);)
            if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
        return -1;
    }

    // SIGTERM: its exit status, or -1 when it had to be killed.
    int stop() {
        if (pid_ <= 0) return -1;
        ::kill(pid_, SIGTERM);
        int child = 0;
        const auto since = Clock::now();
        while (::waitpid(pid_, &child, WNOHANG) == 0) {
            if (msSince(since) > 10000) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, &child, 0);
                pid_ = -1;
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        pid_ = -1;
        return WIFEXITED(child) ? WEXITSTATUS(child) : -1;
    }

    httplib::Client client() const {
        httplib::Client c(address_, viewPort);
        c.set_keep_alive(true);
        c.set_connection_timeout(5, 0);
        c.set_read_timeout(600, 0);
        return c;
    }

private:
    std::string address_, directory_, greeting_, failure_;
    pid_t pid_ = -1;
    double startMs_ = 0;
};

// One request: its time and its JSON answer; an empty answer and why when
// it failed.
struct Answer {
    double ms = 0;
    json body;
    std::string why;
};

Answer get(httplib::Client& client, const std::string& path) {
    Answer answer;
    const auto start = Clock::now();
    const auto result = client.Get(path);
    answer.ms = msSince(start);
    if (!result) {
        answer.why = "no answer: " + httplib::to_string(result.error());
    } else if (result->status != 200) {
        answer.why = "HTTP " + std::to_string(result->status) + ": " + result->body.substr(0, 200);
    } else {
        answer.body = json::parse(result->body, nullptr, false);
        if (answer.body.is_discarded()) answer.why = "not JSON: " + result->body.substr(0, 200);
    }
    return answer;
}

// Checks a figure of an answer: empty when it is right, else what is wrong.
using Check = std::function<std::string(const json&)>;

std::string verdict(double worst) {
    return worst < targetMs ? "met (< 500 ms)" : "MISSED (" + number(worst, "%.0f") + " ms)";
}

// One load; the row shows its time.
bool once(httplib::Client& client, const std::string& what, const std::string& path, const Check& check,
          const std::string& note) {
    const Answer a = get(client, path);
    const std::string wrong = a.why.empty() ? check(a.body) : a.why;
    if (!wrong.empty()) {
        failedRow(what, path + ": " + wrong);
        return false;
    }
    row(what, number(a.ms), "", note.empty() ? verdict(a.ms) : note);
    return true;
}

// count loads, pauseMs apart; the row shows their median and the worst.
bool series(httplib::Client& client, const std::string& what, const std::string& path, const Check& check,
            int count = loads, int pauseMs = 0) {
    std::vector<double> times;
    for (int i = 0; i < count; ++i) {
        if (i) std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
        const Answer a = get(client, path);
        const std::string wrong = a.why.empty() ? check(a.body) : a.why;
        if (!wrong.empty()) {
            failedRow(what, path + ": " + wrong);
            return false;
        }
        times.push_back(a.ms);
    }
    std::sort(times.begin(), times.end());
    const double median = (times[(count - 1) / 2] + times[count / 2]) / 2;
    row(what + ", " + std::to_string(count) + " loads" + (pauseMs ? " " + number(pauseMs / 1000.0) + " s apart" : ""),
        number(median), number(times.back()), verdict(times.back()));
    return true;
}

// The Line and Runs pages' loads (summary, then the first page of runs)
// while 200 other clients hold connections open and idle: half asked once
// and keep their connection, half never ask. They are opened all at once,
// as a page of another site or a stuck client would, not one by one.
bool idleLoads(const std::string& address, httplib::Client& client, const Check& summary, const Check& runs) {
    const std::string what = "summary + runs, 200 idle connections open";
    const std::string request =
        "GET /api/runs?size=1 HTTP/1.1\r\nHost: " + address + ":" + std::to_string(viewPort) + "\r\n\r\n";
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(static_cast<std::uint16_t>(viewPort));
    ::inet_pton(AF_INET, address.c_str(), &at.sin_addr);
    std::vector<int> idle;
    struct Closer {
        std::vector<int>& sockets;
        ~Closer() {
            for (int s : sockets) ::close(s);
        }
    } closer{idle};
    for (int i = 0; i < idleConnections; ++i) {
        const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (s < 0 || ::connect(s, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) {
            failedRow(what, "idle connection " + std::to_string(i) + " could not be opened");
            if (s >= 0) ::close(s);
            return false;
        }
        idle.push_back(s);
        if (i % 2 && ::send(s, request.data(), request.size(), MSG_NOSIGNAL) < 0) {
            failedRow(what, "idle connection " + std::to_string(i) + " could not ask");
            return false;
        }
    }
    std::vector<double> times;
    for (int i = 0; i < loads; ++i) {
        const auto start = Clock::now();
        for (const auto& [path, check] : {std::pair<std::string, const Check*>{"/api/summary?span=8h", &summary},
                                          {"/api/runs?page=1", &runs}}) {
            const Answer a = get(client, path);
            const std::string wrong = a.why.empty() ? (*check)(a.body) : a.why;
            if (!wrong.empty()) {
                failedRow(what, path + ": " + wrong);
                return false;
            }
        }
        times.push_back(msSince(start));
    }
    std::sort(times.begin(), times.end());
    row(what + ", " + std::to_string(loads) + " loads", number((times[(loads - 1) / 2] + times[loads / 2]) / 2),
        number(times.back()), verdict(times.back()));
    return true;
}

long long integer(const json& body, const char* key) {
    return body.contains(key) && body[key].is_number_integer() ? body[key].get<long long>() : -1;
}

std::string text(const json& body, const char* key) {
    return body.contains(key) && body[key].is_string() ? body[key].get<std::string>() : std::string();
}

// The summary's figures against what was generated: the runs started in
// its span, and with a database the pool's used addresses.
Check summaryCheck(const Expected& expected) {
    return [&expected](const json& body) -> std::string {
        const json& sources = body.value("sources", json::object());
        if (sources.value("database", false) != (expected.used >= 0) || !text(sources, "databaseError").empty())
            return "sources " + sources.dump();
        const long long want = expected.within(text(body, "from"), text(body, "to"));
        if (integer(body, "runs") != want)
            return "runs " + std::to_string(integer(body, "runs")) + ", generated in its span " + std::to_string(want);
        long long onPorts = 0;
        for (const json& station : body.value("stations", json::array()))
            for (const json& port : station.value("ports", json::array())) onPorts += integer(port, "runs");
        const long long wantOnPorts = expected.within(text(body, "from"), text(body, "to"), true);
        if (onPorts != wantOnPorts)
            return "runs on ports " + std::to_string(onPorts) + ", generated in its span " + std::to_string(wantOnPorts);
        if (expected.used < 0) return {};
        const json& pools = body.value("pools", json::array());
        if (pools.size() != 1 || integer(pools[0], "used") != expected.used)
            return "pools " + pools.dump().substr(0, 200) + ", used should be " + std::to_string(expected.used);
        return {};
    };
}

Check totalCheck(long long want) {
    return [want](const json& body) -> std::string {
        if (integer(body, "total") != want)
            return "total " + std::to_string(integer(body, "total")) + ", should be " + std::to_string(want);
        if (!body.contains("runs") || !body["runs"].is_array() || body["runs"].empty()) return "no runs";
        return {};
    };
}

// The rows for one source, the server started on it. append: adds 100 runs
// to the source (and to expected).
void measure(const std::string& directory, const std::string& address, Expected& expected,
             const std::function<bool()>& append) {
    ViewServer server(directory, address);
    if (!server.ready()) return failedRow("server start", server.failure());
    row("server start (until it says it serves)", number(server.startMs()), "", server.greeting());
    httplib::Client client = server.client();
    const Check summary = summaryCheck(expected);
    if (!once(client, "summary 8h, first answer (records read at start)", "/api/summary?span=8h", summary,
              "first load: no target"))
        return;
    for (const char* span : {"1h", "8h", "24h", "7d"})
        if (!series(client, std::string("summary ") + span, std::string("/api/summary?span=") + span, summary)) return;
    if (!series(client, "runs, page 1", "/api/runs?page=1", totalCheck(static_cast<long long>(expected.started.size()))))
        return;
    if (!series(client, "runs of " + expected.station + ", failed, page 1",
                "/api/runs?station=" + expected.station + "&result=failed&page=1", totalCheck(expected.stationFailed)))
        return;
    std::string dashed = expected.mac;
    std::replace(dashed.begin(), dashed.end(), ':', '-');
    std::transform(dashed.begin(), dashed.end(), dashed.begin(), [](unsigned char c) { return std::tolower(c); });
    if (!series(client, "address " + dashed, "/api/address?mac=" + dashed, [&](const json& body) -> std::string {
            if (body.value("found", false) && text(body, "run") == expected.macRun) return {};
            return "not the run that wrote it (" + expected.macRun + "): " + body.dump().substr(0, 200);
        }))
        return;
    // With its index built, the server reads only what was added.
    if (!append()) return failedRow("append 100 runs", "the runs could not be added");
    // The page asks every 5 s; the server reads the database at most every
    // 2 s. A load after such a pause holds the addition, and each one
    // pays for a refresh.
    std::this_thread::sleep_for(std::chrono::milliseconds(refreshPauseMs));
    if (!once(client, "summary 8h, next load after 100 runs were added", "/api/summary?span=8h", summary, "")) return;
    if (!series(client, "summary 8h after the addition", "/api/summary?span=8h", summary)) return;
    if (!series(client, "summary 8h as the page refreshes", "/api/summary?span=8h", summary, 5, refreshPauseMs)) return;
    // A connection of its own: the one before may be one the view closed as idle.
    httplib::Client fresh = server.client();
    if (!idleLoads(address, fresh, summary, totalCheck(static_cast<long long>(expected.started.size())))) return;
    const long peak = server.peakKiB();
    row("server's peak memory (VmHWM)", number(peak / 1024.0, "%.1f"), "", "MiB");
    const int stopped = server.stop();
    if (stopped != 0) failedRow("server stop (SIGTERM)", "exit status " + std::to_string(stopped) + ", should be 0");
}

// Runs started evenly over the last 7 days, clear of both ends: every span
// has data, none slips out during the loads, and every run has ended (a
// run takes at most about 5 minutes).
std::vector<bench::TimePoint> startTimes(int count) {
    const auto now = std::chrono::system_clock::now();
    const auto from = now - std::chrono::hours(24 * 7) + std::chrono::minutes(10);
    const auto step = (now - std::chrono::minutes(30) - from) / count;
    std::vector<bench::TimePoint> times;
    for (int i = 0; i < count; ++i) times.push_back(from + step * i);
    return times;
}

// The 100 runs that ended since the first loads, added after them.
std::vector<bench::TimePoint> recentTimes() {
    const auto now = std::chrono::system_clock::now();
    std::vector<bench::TimePoint> times;
    for (int i = 100; i > 0; --i) times.push_back(now - std::chrono::minutes(6) - std::chrono::seconds(i * 12));
    return times;
}

void journalSource() {
    const std::string directory = scratch + "/journal-station";
    std::filesystem::create_directories(directory + "/transcripts");
    std::ofstream(directory + "/setup.ini", std::ios::binary) << "[SETUP]\r\nCPE_LAN_IP=192.168.1.1\r\n";
    const std::string path = directory + "/" + vornix::journal::fileName;
    RunGenerator generator(7, poolFirst);
    Expected expected;
    expected.station = RunGenerator::stationName(3);
    const auto start = Clock::now();
    {
        std::ofstream journal(path, std::ios::binary | std::ios::trunc);
        int index = 0;
        for (const auto& time : startTimes(100000)) {
            const GeneratedRun run = generator.next(time);
            if (index++ == 50000) expected.mac = vornix::formatMac(run.firstMac + 2), expected.macRun = run.id;
            expected.add(run);
            journal << run.record << '\n';
        }
    }
    std::printf("\n== a station's journal: %zu runs of %d stations over 7 days, %.1f MB (written in %.1f s)\n",
                expected.started.size(), RunGenerator::stations,
                static_cast<double>(std::filesystem::file_size(path)) / 1e6, msSince(start) / 1000);
    row("", "median ms", "worst ms", "target: under 500 ms after the first load");
    measure(directory, "127.0.0.240", expected, [&] {
        std::ofstream journal(path, std::ios::binary | std::ios::app);
        for (const auto& time : recentTimes()) {
            const GeneratedRun run = generator.next(time);
            expected.add(run);
            journal << run.record << '\n';
        }
        return static_cast<bool>(journal.flush());
    });
}

// Runs into the line database as its stations leave them: each run's
// record, its block of 4 reserved and assigned to it, and the pool's
// next address after the last block. Loaded by COPY from CSV files.
bool storeRuns(vornix::test::PostgresServer& server, RunGenerator& generator, const std::vector<bench::TimePoint>& times,
               Expected& expected, long long& nextMac) {
    const std::string runs = scratch + "/runs.csv", blocks = scratch + "/blocks.csv", macs = scratch + "/macs.csv";
    {
        std::ofstream runFile(runs, std::ios::binary | std::ios::trunc), blockFile(blocks, std::ios::binary | std::ios::trunc),
            macFile(macs, std::ios::binary | std::ios::trunc);
        for (const auto& time : times) {
            const GeneratedRun run = generator.next(time);
            if (run.firstMac < 0) return false;
            if (expected.started.size() == 125000) expected.mac = vornix::formatMac(run.firstMac + 2), expected.macRun = run.id;
            expected.add(run);
            const std::string station = bench::csvField(run.station), id = bench::csvField(run.id);
            const std::string reserved = bench::wholeSeconds(run.started), assigned = bench::wholeSeconds(run.ended);
            const long long leaseUntil =
                std::chrono::duration_cast<std::chrono::seconds>(run.started.time_since_epoch()).count() + 3600;
            runFile << id << ',' << station << ',' << assigned << ',' << bench::csvField(run.record) << '\n';
            blockFile << run.firstMac << ",line-a," << station << ',' << run.firstMac << ',' << RunGenerator::blockSize
                      << ",assigned," << reserved << ',' << assigned << ',' << id << ',' << leaseUntil << '\n';
            for (int i = 0; i < RunGenerator::blockSize; ++i)
                macFile << run.firstMac + i << ',' << run.firstMac << ',' << station << ",192.168.1.1," << id << ','
                        << assigned << '\n';
            nextMac = run.firstMac + RunGenerator::blockSize;
        }
        if (!runFile.flush() || !blockFile.flush() || !macFile.flush()) return false;
    }
    // The server reads the files as the postgres user.
    for (const std::string& file : {runs, blocks, macs}) ::chmod(file.c_str(), 0644);
    bool ok = true;
    server.sql("BEGIN; COPY vornix_run FROM '" + runs + "' WITH (FORMAT csv); COPY vornix_reservation (id, pool, station, first_mac, mac_count, state, reserved_at,"
                   " closed_at, holder, lease_until) FROM '" + blocks +
                   "' WITH (FORMAT csv); COPY vornix_assignment FROM '" + macs +
                   "' WITH (FORMAT csv); UPDATE vornix_pool SET next_mac = " + std::to_string(nextMac) +
                   " WHERE name = 'line-a'; COMMIT",
               &ok);
    expected.used = nextMac - poolFirst;
    return ok;
}

void databaseSource() {
    std::printf("\n== the line database: PostgreSQL on 127.0.0.1:%d\n", postgresPort);
    std::fflush(stdout);
    vornix::test::PostgresServer server(postgresPort);
    if (!server.ready()) return failedRow("PostgreSQL start", server.failure());
    std::string diagnostic;
    {
        auto db = vornix::LineDatabase::open(server.connectionString(), 10, diagnostic);
        if (!db || !db->createTables(diagnostic)) return failedRow("line database tables", diagnostic);
    }
    bool ok = true;
    const auto created = std::chrono::system_clock::now() - std::chrono::hours(24 * 8);
    server.sql("INSERT INTO vornix_pool (name, first_mac, last_mac, next_mac, created_at) VALUES ('line-a', " +
                   std::to_string(poolFirst) + ", " + std::to_string(poolFirst + 0xFFFFFF) + ", " +
                   std::to_string(poolFirst) + ", '" + bench::wholeSeconds(created) + "')",
               &ok);
    if (!ok) return failedRow("line database pool", "the pool row could not be added");

    RunGenerator generator(11, poolFirst, true);
    Expected expected;
    expected.station = RunGenerator::stationName(5);
    long long nextMac = poolFirst;
    const auto start = Clock::now();
    if (!storeRuns(server, generator, startTimes(250000), expected, nextMac))
        return failedRow("line database fill", "COPY failed");
    server.sql("ANALYZE", &ok);
    std::printf("%zu runs of %d stations over 7 days, %lld addresses assigned in %lld blocks; %s of tables"
                " (filled in %.1f s)\n",
                expected.started.size(), RunGenerator::stations, expected.used,
                expected.used / RunGenerator::blockSize,
                firstLine(server.sql("SELECT pg_size_pretty(SUM(pg_total_relation_size(c.oid))) FROM pg_class c"
                                     " WHERE c.relname LIKE 'vornix_%' AND c.relkind = 'r'"))
                    .c_str(),
                msSince(start) / 1000);
    const std::string directory = scratch + "/line-station";
    std::filesystem::create_directories(directory + "/transcripts");
    std::ofstream(directory + "/setup.ini", std::ios::binary)
        << "[SETUP]\r\nCPE_LAN_IP=192.168.1.1\r\n[LINE]\r\nDatabase=" << server.connectionString()
        << "\r\nPool=line-a\r\nStation=view\r\n";
    std::ofstream(directory + "/" + vornix::journal::fileName, std::ios::trunc);
    row("", "median ms", "worst ms", "target: under 500 ms after the first load");
    measure(directory, "127.0.0.241", expected,
            [&] { return storeRuns(server, generator, recentTimes(), expected, nextMac); });
}

}  // namespace

int main() {
    std::error_code ignored;
    std::filesystem::remove_all(scratch, ignored);
    std::filesystem::create_directories(scratch);
    ::chmod(scratch.c_str(), 0755);
    std::printf("The line view (vornix-cli --serve) over HTTP on loopback; each row as measured\n");
    journalSource();
    databaseSource();
    std::filesystem::remove_all(scratch, ignored);
    return status;
}
