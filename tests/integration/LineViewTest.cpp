// The line view as a supervisor sees it: vornix-cli --serve in a station
// directory whose journal the test wrote, its pages rendered by Debian's
// Chromium, and its HTTP answers to paths and parameters that are wrong,
// to other sites' names, to bodies, idle clients and records too deep.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <httplib.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <arpa/inet.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <regex>
#include <set>
#include <thread>
#include <tuple>

#include "records/Journal.h"
#include "records/LineDatabase.h"
#include "support/Chromium.h"
#include "support/PostgresServer.h"
#include "support/ServedView.h"
#include "support/TempDir.h"
#include "view/Assets.h"
#include "view/ViewServer.h"

namespace vornix {
namespace {

using test::field;
using test::starts;
using test::textOf;

using namespace std::chrono;
using test::readAll;

// ---- the journal the test writes ------------------------------------------

// A stage: 's' succeeded, 'f' failed, 'n' not run, '-' not ticked.
struct JournalRun {
    const char* station;
    int minutesAgo;
    const char* firstMac;  // the first address written ("" none)
    char mac;
    long long macMs;
    char boot;
    long long bootMs;
    const char* failure;  // the failed stage's line
    bool interrupted = false;
    bool routerFound = true;
    int port = 0;  // a gang station's
    const char* interfaceName = "";
};

// Three stations over the last 8 hours and one run before them: retries of
// a router (same first MAC), a router whose first run lies outside the span,
// a router that did not answer, interrupted runs with and without addresses.
const char* const hostileInterface = "\"><img src=x onerror=\"document.body.dataset.pwnedC=1\">'";
const JournalRun runs[] = {
    {"bench-1", 470, "00:11:22:00:00:00", 's', 14200, '-', 0, ""},
    {"bench-1", 400, "00:11:22:00:00:02", 'f', 9100, '-', 0, "Can't log in to the router"},
    {"bench-1", 395, "00:11:22:00:00:02", 's', 15800, '-', 0, ""},
    {"bench-1", 300, "00:11:22:00:00:04", 's', 13100, 's', 92400, ""},
    {"bench-1", 200, "00:11:22:00:00:06", 's', 14900, 'f', 3300, "Boot version 1.2.2 != 1.2.3"},
    {"bench-1", 120, "00:11:22:00:00:06", 's', 15100, 's', 95100, ""},
    {"bench-2", 600, "00:11:22:00:10:00", 'f', 8800, '-', 0, "Can't log in to the router"},
    {"bench-2", 450, "00:11:22:00:10:00", 's', 14400, '-', 0, ""},
    {"bench-2", 350, "", 'n', 0, '-', 0, "", false, false},
    {"bench-2", 250, "00:11:22:00:10:02", '-', 0, '-', 0, "", true},
    {"bench-2", 90, "00:11:22:00:10:04", 's', 16600, '-', 0, ""},
    {"bench-2", 30, "00:11:22:00:10:06", 'f', 7200, '-', 0, "Can't log in to the router"},
    {"bench-3", 420, "", '-', 0, '-', 0, "", true},
    {"bench-3", 330, "00:11:22:00:2A:0C", 's', 14600, '-', 0, ""},  // the one with markup in its variables
    {"bench-3", 60, "00:11:22:00:20:04", 's', 15300, 's', 90800, ""},
    {"bench-3", 15, "00:11:22:00:20:06", 'f', 6400, '-', 0, "Verify Fail : ethaddr != \"00:11:22:00:20:06\" (1)"},
    // A gang station whose port 2 fails often; that port's interface's name is markup.
    {"gang-1", 180, "00:11:22:00:30:00", 's', 14000, '-', 0, "", false, true, 1, "veth1"},
    {"gang-1", 180, "00:11:22:00:30:02", 'f', 7000, '-', 0, "Can't log in to the router", false, true, 2, hostileInterface},
    {"gang-1", 180, "00:11:22:00:30:04", 's', 14100, '-', 0, "", false, true, 3, "Ethernet 3"},
    {"gang-1", 170, "00:11:22:00:30:02", 'f', 7100, '-', 0, "Can't log in to the router", false, true, 2, hostileInterface},
    {"gang-1", 160, "00:11:22:00:30:02", 'f', 6900, '-', 0, "Verify Fail : ethaddr != \"00:11:22:00:30:02\" (1)", false, true, 2, hostileInterface},
    {"gang-1", 150, "00:11:22:00:30:02", 's', 14300, '-', 0, "", false, true, 2, hostileInterface},
};
constexpr std::size_t markupRun = 13;
const char* const markupValue = "<script>document.body.dataset.pwnedA=1</script>";
const char* const markupLog = "<img src=x onerror=\"document.body.dataset.pwnedB=1\">";
const char* const lastLogOfNoAnswer = "The router does not answer";

std::string nextMac(std::string mac) {
    mac.erase(std::remove(mac.begin(), mac.end(), ':'), mac.end());
    const unsigned long long value = std::stoull(mac, nullptr, 16) + 1;
    char text[18];
    std::snprintf(text, sizeof text, "%02llX:%02llX:%02llX:%02llX:%02llX:%02llX", value >> 40 & 255, value >> 32 & 255,
                  value >> 24 & 255, value >> 16 & 255, value >> 8 & 255, value & 255);
    return text;
}

const char* resultOf(const JournalRun& run) {
    if (run.interrupted) return "interrupted";
    if (!run.routerFound || run.mac == 'f' || run.mac == 'n' || run.boot == 'f') return "failed";
    return "succeeded";
}

StageResult stageResult(char code) {
    return code == 's' ? StageResult::Succeeded : code == 'f' ? StageResult::Failed
           : code == 'n' ? StageResult::NotRun : StageResult::NotChosen;
}

struct Written {
    std::string id, line, transcript, transcriptText;
    system_clock::time_point started;
};

Written recordOf(const JournalRun& run, std::size_t index, system_clock::time_point now) {
    RunRecord::Data data;
    data.started = now - minutes(run.minutesAgo);
    data.ended = data.started + milliseconds(run.macMs + run.bootMs + 2000);
    char tag[9];
    std::snprintf(tag, sizeof tag, "%08zx", index + 1);
    data.runId = journal::utcText(data.started) + " " + run.station + " " + tag;
    data.router = "192.168.1.1";
    data.port = run.port;
    data.interfaceName = run.interfaceName;
    data.log = {"Router found", "Start of the run"};
    if (*run.firstMac) {
        data.startMacBefore = run.firstMac;
        data.startMacAfter = nextMac(nextMac(run.firstMac));
        data.macs = {{"ethaddr", run.firstMac, run.interrupted ? "" : run.firstMac}};
        if (!run.interrupted) data.macs.push_back({"wan_mac", nextMac(run.firstMac), nextMac(run.firstMac)});
        data.environment = {{"ProductID", "VX100"}};
    }
    if (!run.routerFound) data.log = {"Waiting for the router at 192.168.1.1", lastLogOfNoAnswer};
    if (run.mac == 'f') data.failure[0] = run.failure;
    if (run.boot == 'f') data.failure[1] = run.failure;
    if (*run.failure) data.log.push_back(run.failure);
    data.bootExpected = "1.2.3";
    data.bootFound = run.boot == 'f' ? "1.2.2" : "1.2.3";

    Written written;
    written.id = data.runId;
    written.started = data.started;
    const journal::Station station{run.station, "vornix 1.0.0"};
    if (index == markupRun) {
        data.environment.push_back({"Banner", markupValue});
        data.log.push_back(markupLog);
        written.transcript = journal::transcriptName(data.started, data.router);
        written.transcriptText = "run " + data.runId + "\n[      40 ms] #1 connected to 192.168.1.1:23\n"
                                 "[    1210 ms] #1 <- Banner=" + std::string(markupValue) + "\\r\\n# \n";
    }
    if (run.interrupted) {
        written.line = journal::interruptedLine(data, station, written.transcript, Secrets());
        return written;
    }
    RunOutcome outcome;
    outcome.routerFound = run.routerFound;
    outcome.stages[0] = stageResult(run.mac);
    outcome.stages[1] = stageResult(run.boot);
    outcome.stageMs[0] = run.macMs;
    outcome.stageMs[1] = run.bootMs;
    written.line = journal::recordLine(data, outcome, station, written.transcript, Secrets());
    return written;
}

// A run whose transcript is larger than any buffer of the view: its first
// MiB is text, then a hole (a sparse file), then its last line.
const char* const bigRun = "2026-01-01T00:00:00.000Z archive 00000001";
const char* const bigTranscript = "big.log";
constexpr long long bigSize = 20LL << 20;
const std::string bigTail = "the end of a long transcript\n";
// A record whose fields have types no station writes.
const char* const oddRun = "2026-01-01T00:00:00.000Z archive 00000003";
// A record nested 100,000 deep: refused unparsed.
const char* const deepRun = "2026-01-01T00:00:00.000Z archive 00000002";

std::string archivedRecord(const char* id, const std::string& transcript) {
    return nlohmann::json{{"format", 1},
                          {"run", id},
                          {"started", "2026-01-01T00:00:00.000Z"},
                          {"ended", "2026-01-01T00:01:00.000Z"},
                          {"station", "archive"},
                          {"router", "192.168.1.1"},
                          {"result", "succeeded"},
                          {"ticked", nlohmann::json::array()},
                          {"stages", nlohmann::json::object()},
                          {"log", {"done"}},
                          {"transcript", transcript}}
        .dump();
}

std::string bigTranscriptHead() {
    std::string text;
    for (int line = 0; text.size() < (1u << 20); ++line)
        text += "[" + std::to_string(line) + " ms] #1 <- a line of a long transcript\n";
    return text;
}

std::string encoded(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        char escape[4];
        std::snprintf(escape, sizeof escape, "%%%02X", c);
        out += std::isalnum(c) ? std::string(1, static_cast<char>(c)) : std::string(escape);
    }
    return out;
}

// One exchange on a connection of its own: the status of the answer, 0 for none.
int rawStatus(const std::string& host, int port, const std::string& request) {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(static_cast<std::uint16_t>(port));
    ::inet_pton(AF_INET, host.c_str(), &at.sin_addr);
    const timeval wait{20, 0};
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    std::string answer;
    if (::connect(s, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0 &&
        ::send(s, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
        char buffer[1024];
        for (ssize_t n; answer.size() < 12 && (n = ::recv(s, buffer, sizeof buffer, 0)) > 0;)
            answer.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(s);
    return answer.rfind("HTTP/1.1 ", 0) == 0 && answer.size() >= 12 ? std::stoi(answer.substr(9, 3)) : 0;
}

// ---- the server ------------------------------------------------------------

class LineView : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        station_ = new test::TempDir;
        std::filesystem::copy_file(VORNIX_SOURCE_DIR "/samples/setup.ini", station_->file("setup.ini"));
        std::filesystem::create_directories(station_->file("transcripts"));
        now_ = system_clock::now();
        std::string journal;
        for (std::size_t i = 0; i < std::size(runs); ++i) {
            written_.push_back(recordOf(runs[i], i, now_));
            journal += written_.back().line + "\n";
            if (!written_.back().transcript.empty())
                station_->write("transcripts/" + written_.back().transcript, written_.back().transcriptText);
        }
        journal += archivedRecord(bigRun, std::string("transcripts/") + bigTranscript) + "\n";
        nlohmann::json odd = nlohmann::json::parse(archivedRecord(oddRun, ""));
        odd.update({{"log", "one line, not a list"}, {"router", {{"address", 1}}}, {"boot", 7},
                    {"stages", {{"mac", "done"}, {"boot", {{"result", 3}, {"failure", {"a", "b"}}}}}},
                    {"mac", {{"addresses", {{{"name", 5}, {"written", {1, 2}}, {"readBack", 12}}}}, {"environment", "x"}}}});
        journal += odd.dump() + "\n";
        std::string deep = archivedRecord(deepRun, "");
        deep.insert(deep.size() - 1, ",\"extra\":" + std::string(100000, '[') + std::string(100000, ']'));
        journal += deep + "\n";
        station_->write(journal::fileName, journal);
        {
            const std::string big = station_->write(std::string("transcripts/") + bigTranscript, bigTranscriptHead());
            std::filesystem::resize_file(big, static_cast<std::uintmax_t>(bigSize) - bigTail.size());
            std::ofstream(big, std::ios::binary | std::ios::app) << bigTail;
        }
        // Another test process may hold an address and port: the next is tried.
        const int salt = static_cast<int>(::getpid());
        for (int attempt = 0; attempt < 20 && !(server_ && server_->ready()); ++attempt) {
            delete server_;
            host_ = "127.0.0." + std::to_string(232 + (salt + attempt) % 8);
            port_ = 18080 + (salt / 8 + attempt * 37) % 900;
            server_ = new test::ServedView(station_->file(""), host_, port_, {"--allow-host", "line.example"});
        }
    }

    static void TearDownTestSuite() {
        delete server_;
        delete station_;
    }

    void SetUp() override {
        ASSERT_TRUE(server_->ready()) << server_->failure();
        if (!test::haveChromium()) GTEST_SKIP() << "no /usr/bin/chromium: run scripts/install-deps";
    }

    // The page's DOM once its script rendered the first answer.
    static std::string page(const std::string& path) {
        const std::string html = test::renderedDom(server_->url(path));
        EXPECT_NE(html.find("data-loaded=\"1\""), std::string::npos) << path << " did not render:\n" << html;
        EXPECT_EQ(html.find("data-error="), std::string::npos) << path << ":\n" << html;
        return html;
    }

    static inline test::TempDir* station_ = nullptr;
    static inline system_clock::time_point now_;
    static inline std::vector<Written> written_;
    static inline test::ServedView* server_ = nullptr;
    static inline std::string host_;
    static inline int port_ = 0;
};

// ---- what the test expects, from its own records ---------------------------

std::string percentText(double part, double whole) {
    if (whole == 0) return "—";
    char text[16];
    std::snprintf(text, sizeof text, "%.1f%%", 100.0 * part / whole);
    return text;
}

std::string secondsText(std::vector<long long> ms, double rank) {
    if (ms.empty()) return "—";
    std::sort(ms.begin(), ms.end());
    const auto nearest = static_cast<std::size_t>(std::ceil(rank * static_cast<double>(ms.size())));
    char text[16];
    std::snprintf(text, sizeof text, "%.1fs", static_cast<double>(ms[std::max<std::size_t>(nearest, 1) - 1]) / 1000);
    return text;
}

std::string hourOf(system_clock::time_point started) {
    const auto hour = time_point_cast<hours>(started);
    return journal::utcText(hour);
}

TEST_F(LineView, LinePageShowsTheFiguresOfTheRecords) {
    const auto from = now_ - hours(8);
    std::map<std::string, system_clock::time_point> firstRun;  // router: its earliest run
    std::map<std::string, bool> firstSucceeded;
    // A router is its first address; a failed run that wrote none was a try
    // of the router its station's next run prepared (the table is in order).
    std::vector<std::string> routers(std::size(runs));
    for (std::size_t i = std::size(runs); i-- > 0;) {
        const bool followed = i + 1 < std::size(runs) && std::string(runs[i + 1].station) == runs[i].station;
        if (*runs[i].firstMac) routers[i] = runs[i].firstMac;
        else if (std::string(resultOf(runs[i])) != "succeeded" && followed) routers[i] = routers[i + 1];
        else routers[i] = written_[i].id;
    }
    auto routerOf = [&](std::size_t i) { return routers[i]; };
    for (std::size_t i = 0; i < std::size(runs); ++i) {
        const std::string router = routerOf(i);
        if (!firstRun.count(router) || written_[i].started < firstRun[router]) {
            firstRun[router] = written_[i].started;
            firstSucceeded[router] = std::string(resultOf(runs[i])) == "succeeded";
        }
    }
    struct Tally {
        int runs = 0, succeeded = 0, failed = 0;
        std::set<std::string> routers;
    };
    Tally line;
    std::map<std::string, Tally> stations;
    std::map<std::string, int> failures;
    std::vector<long long> macMs, bootMs;
    std::set<std::tuple<std::string, std::string, int>> bars;
    std::map<std::string, std::pair<int, int>> hourly;
    for (std::size_t i = 0; i < std::size(runs); ++i) {
        if (written_[i].started < from) continue;
        const JournalRun& run = runs[i];
        const std::string result = resultOf(run);
        for (Tally* t : {&line, &stations[run.station]}) {
            ++t->runs;
            t->succeeded += result == "succeeded";
            t->failed += result == "failed";
            t->routers.insert(routerOf(i));
        }
        if (result == "interrupted") ++failures["interrupted"];
        // Lines that differ only in an address are one failure.
        else if (result == "failed")
            ++failures[std::regex_replace(*run.failure ? run.failure : lastLogOfNoAnswer,
                                          std::regex("([0-9A-Fa-f]{2}[:-]){5}[0-9A-Fa-f]{2}"), "xx:xx:xx:xx:xx:xx")];
        if (run.mac == 's' || run.mac == 'f') macMs.push_back(run.macMs);
        if (run.boot == 's' || run.boot == 'f') bootMs.push_back(run.bootMs);
        auto& [succeeded, failed] = hourly[hourOf(written_[i].started)];
        (result == "succeeded" ? succeeded : failed) += 1;
    }
    int firstPass = 0;
    for (const std::string& router : line.routers) firstPass += firstSucceeded[router] && firstRun[router] >= from;
    for (const auto& [hour, counts] : hourly) {
        if (counts.first) bars.insert({hour, "succeeded", counts.first});
        if (counts.second) bars.insert({hour, "failed", counts.second});
    }
    std::vector<std::pair<std::string, int>> ranked(failures.begin(), failures.end());
    std::stable_sort(ranked.begin(), ranked.end(), [](const auto& a, const auto& b) { return a.second > b.second; });

    const std::string html = page("/?span=8h");
    EXPECT_EQ(textOf(html, "data-figure=\"routers\""), std::to_string(line.routers.size()));
    EXPECT_EQ(textOf(html, "data-figure=\"runs\""), std::to_string(line.runs));
    EXPECT_EQ(textOf(html, "data-figure=\"succeeded\""), std::to_string(line.succeeded));
    EXPECT_EQ(textOf(html, "data-figure=\"failed\""), std::to_string(line.failed));
    EXPECT_EQ(textOf(html, "data-figure=\"first-pass-yield\""),
              percentText(firstPass, static_cast<double>(line.routers.size())));

    EXPECT_EQ(starts(html, "<tr data-station=").size(), stations.size());
    for (const auto& [name, t] : stations) {
        const std::size_t row = html.find("<tr data-station=\"" + name + "\"");
        ASSERT_NE(row, std::string::npos) << name;
        EXPECT_EQ(field(html, row, "runs"), std::to_string(t.runs)) << name;
        EXPECT_EQ(field(html, row, "routers"), std::to_string(t.routers.size())) << name;
        EXPECT_EQ(field(html, row, "succeeded"), std::to_string(t.succeeded)) << name;
        EXPECT_EQ(field(html, row, "failed"), std::to_string(t.failed)) << name;
        EXPECT_EQ(field(html, row, "yield"), percentText(t.succeeded, t.runs)) << name;
    }

    // The gang station's ports in a table under its row; the interface's markup is text.
    EXPECT_EQ(starts(html, "<tr data-ports=").size(), 1u) << "none under a one-port station";
    const std::size_t ports = html.find("<tr data-ports=\"gang-1\"");
    EXPECT_EQ(starts(html, "<tr data-port=\"").size(), 3u);
    const std::size_t port1 = html.find("<tr data-port=\"1\"", ports), port2 = html.find("<tr data-port=\"2\"", ports);
    ASSERT_TRUE(ports != std::string::npos && port1 != std::string::npos && port2 != std::string::npos) << html;
    EXPECT_EQ(field(html, port1, "top-failure"), "—");
    EXPECT_EQ(field(html, port2, "interface"), hostileInterface);
    EXPECT_EQ(field(html, port2, "runs"), "4");
    EXPECT_EQ(field(html, port2, "yield"), "25.0%");
    EXPECT_EQ(field(html, port2, "top-failure"), "Can't log in to the router");
    EXPECT_EQ(field(html, port2, "top-failure-count"), "2");
    EXPECT_EQ(starts(html, "<img").size(), 0u);
    EXPECT_EQ(starts(html, "data-pwned").size(), 0u);

    std::vector<std::pair<std::string, int>> shown;
    for (std::size_t row : starts(html, "<tr data-failure"))
        shown.push_back({field(html, row, "line"), std::stoi(field(html, row, "count"))});
    EXPECT_EQ(shown, ranked);

    for (const auto& [stage, ms] : {std::pair{"mac", macMs}, std::pair{"boot", bootMs}}) {
        const std::size_t row = html.find(std::string("<tr data-stage=\"") + stage + "\"");
        ASSERT_NE(row, std::string::npos) << stage;
        EXPECT_EQ(field(html, row, "median"), secondsText(ms, 0.5)) << stage;
        EXPECT_EQ(field(html, row, "p90"), secondsText(ms, 0.9)) << stage;
    }

    // The page sets a bar's attributes in this order.
    std::set<std::tuple<std::string, std::string, int>> drawn;
    const std::regex rect(R"re(<rect [^>]*data-hour="([^"]+)" data-kind="(\w+)" data-count="(\d+)")re");
    for (auto m = std::sregex_iterator(html.begin(), html.end(), rect); m != std::sregex_iterator(); ++m)
        drawn.insert({(*m)[1], (*m)[2], std::stoi((*m)[3])});
    EXPECT_EQ(drawn, bars);
}

TEST_F(LineView, AddressLookupFindsTheRunInEveryNotation) {
    const std::string run = written_[markupRun].id;  // wrote 00:11:22:00:2A:0C and :0D
    struct Case {
        const char* typed;
        const char* canonical;  // "": never handed out
    };
    const Case cases[] = {
        {"00:11:22:00:2a:0c", "00:11:22:00:2a:0c"}, {"00:11:22:00:2A:0C", "00:11:22:00:2a:0c"},
        {"00-11-22-00-2a-0c", "00:11:22:00:2a:0c"}, {"001122002A0C", "00:11:22:00:2a:0c"},
        {"0011.2200.2a0c", "00:11:22:00:2a:0c"},    {"00-11-22-00-2A-0D", "00:11:22:00:2a:0d"},  // the second address
        {"00:11:22:00:3b:0e", ""},
    };
    for (const Case& c : cases) {
        const std::string html = page(std::string("/address?mac=") + c.typed);
        const std::size_t answer = html.find("id=\"address-answer\"");
        ASSERT_NE(answer, std::string::npos) << c.typed;
        std::string mac = field(html, answer, "mac");
        for (char& ch : mac) ch = static_cast<char>(std::tolower(ch));
        if (!*c.canonical) {
            EXPECT_NE(html.find("data-found=\"no\""), std::string::npos) << c.typed;
            EXPECT_NE(textOf(html, "id=\"address-answer\"").value_or("").find("never handed out"), std::string::npos);
            EXPECT_EQ(mac, "00:11:22:00:3b:0e");
            continue;
        }
        EXPECT_NE(html.find("data-found=\"yes\""), std::string::npos) << c.typed;
        EXPECT_EQ(mac, c.canonical) << c.typed;
        EXPECT_EQ(field(html, answer, "run"), run) << c.typed;
        EXPECT_EQ(field(html, answer, "station"), "bench-3") << c.typed;
    }
}

TEST_F(LineView, RunPageShowsMarkupFromTheRouterAsText) {
    const Written& w = written_[markupRun];
    std::string id;
    for (char c : w.id) id += c == ' ' ? std::string("%20") : std::string(1, c);
    const std::string html = page("/run?id=" + id);
    EXPECT_EQ(field(html, 0, "run"), w.id);
    EXPECT_EQ(field(html, 0, "result"), "succeeded");
    // Nothing the page did not bring itself: one script (its own), no image,
    // and neither handler ran.
    EXPECT_EQ(starts(html, "<script").size(), 1u);
    EXPECT_EQ(starts(html, "<img").size(), 0u);
    EXPECT_EQ(starts(html, "data-pwned").size(), 0u);

    std::map<std::string, std::string> environment;
    for (std::size_t row : starts(html, "<tr data-env"))
        environment[field(html, row, "name")] = field(html, row, "value");
    EXPECT_EQ(environment["Banner"], markupValue);
    EXPECT_EQ(environment["ProductID"], "VX100");
    const std::string log = field(html, 0, "log");
    EXPECT_NE(log.find(std::string("\n") + markupLog), std::string::npos) << log;
    EXPECT_EQ(field(html, 0, "transcript"), w.transcriptText);
}

// ---- HTTP --------------------------------------------------------------------

TEST_F(LineView, ServesTheEmbeddedPages) {
    const std::pair<const char*, const char*> cases[] = {
        {"/", "text/html; charset=utf-8"},         {"/runs", "text/html; charset=utf-8"},
        {"/run", "text/html; charset=utf-8"},      {"/address", "text/html; charset=utf-8"},
        {"/assets/view.css", "text/css; charset=utf-8"}, {"/assets/view.js", "text/javascript; charset=utf-8"},
    };
    httplib::Client client(host_, port_);
    for (const auto& [path, type] : cases) {
        const view::Asset* asset = view::findAsset(path);
        ASSERT_NE(asset, nullptr) << path;
        const auto served = client.Get(path);
        ASSERT_TRUE(served) << path;
        EXPECT_EQ(served->status, 200) << path;
        EXPECT_EQ(served->get_header_value("Content-Type"), type) << path;
        EXPECT_EQ(served->body, asset->body) << path;
    }
    EXPECT_NE(view::findAsset("/runs")->body.find("data-page=\"runs\""), std::string_view::npos);
    for (const char* path : {"", "/assets/", "/assets/../view.js", "/assets/nothing.js", "/runs/", "/Run"})
        EXPECT_EQ(view::findAsset(path), nullptr) << path;
}

TEST_F(LineView, ASecondViewOnTheSamePortIsRefused) {
    test::ServedView second(station_->file(""), host_, port_);
    EXPECT_FALSE(second.ready()) << second.failure();
    EXPECT_EQ(second.stop(), 1);
}

TEST_F(LineView, RefusesPathsOutOfTranscriptsAndMalformedParameters) {
    const std::string setup = readAll(station_->file("setup.ini"));
    httplib::Client client(host_, port_);
    for (const char* path : {"/transcripts/../setup.ini", "/transcripts/%2e%2e%2fsetup.ini", "/transcripts//etc/passwd",
                             "/transcripts/..%2fsetup.ini", "/transcripts/.hidden", "/transcripts/nothing.log"}) {
        const auto answer = client.Get(path);
        ASSERT_TRUE(answer) << path;
        EXPECT_TRUE(answer->status == 400 || answer->status == 404) << path << ": " << answer->status;
        EXPECT_EQ(answer->body.find("[WRITE_MAC]"), std::string::npos) << path;
        EXPECT_EQ(answer->body.find("root:"), std::string::npos) << path;
    }
    for (const char* path : {"/api/summary?span=3w", "/api/runs?page=x", "/api/runs?size=0", "/api/runs?result=maybe",
                             "/api/address?mac=zz", "/api/address?mac=00:11:22:33:44"}) {
        const auto answer = client.Get(path);
        ASSERT_TRUE(answer) << path;
        EXPECT_EQ(answer->status, 400) << path;
        const auto body = nlohmann::json::parse(answer->body, nullptr, false);
        ASSERT_TRUE(body.is_object() && body.contains("error") && body["error"].is_string())
            << path << ": " << answer->body;
        const std::string reason = body["error"];
        EXPECT_FALSE(reason.empty()) << path;
        EXPECT_EQ(reason.find('\n'), std::string::npos) << path;
    }
}

// ---- what a client may not do -----------------------------------------------

TEST_F(LineView, AnswersOnlyToItsOwnNames) {
    const std::string port = ":" + std::to_string(port_);
    const std::pair<std::string, int> cases[] = {
        {host_ + port, 200},        {"localhost" + port, 200},   {"LocalHost" + port, 200},
        {"line.example" + port, 200},  // --allow-host
        {"evil.test" + port, 403},  {"127.0.0.1.evil.test" + port, 403},
        {host_, 403},               {"line.example", 403},  // no port: 80
        {"localhost:1", 403},       {"[::1]" + port, 403},
    };
    for (const auto& [host, status] : cases) {
        httplib::Client client(host_, port_);
        const auto answer = client.Get("/api/summary", {{"Host", host}});
        ASSERT_TRUE(answer) << host;
        EXPECT_EQ(answer->status, status) << host;
        EXPECT_EQ(answer->body.find("\"runs\"") != std::string::npos, status == 200) << host;
    }
    EXPECT_EQ(rawStatus(host_, port_, "GET /api/summary HTTP/1.1\r\n\r\n"), 400) << "HTTP/1.1 requires a Host";
    // An IPv6 address is one name with or without its brackets.
    EXPECT_TRUE(view::hostAllowed("[::1]:8080", {"::1"}, 8080));
    EXPECT_TRUE(view::hostAllowed("[::1]:8080", {"[::1]"}, 8080));
    EXPECT_TRUE(view::hostAllowed("[::1]", {"::1"}, 80));
    EXPECT_FALSE(view::hostAllowed("::1:8080", {"::1"}, 8080));
    EXPECT_FALSE(view::hostAllowed("[::1]x", {"::1"}, 80));
}

// DNS rebinding: a page of another site whose name then leads to the view
// fetches the view's API as its own. A proxy stands for the name's changing
// address: the page comes from the test, the page's requests go to the view.
// The page reports what it read back to the proxy, which the test waits for.
TEST_F(LineView, APageOfAnotherSiteReadsNothingThroughItsName) {
    const std::string origin = "http://evil.test:" + std::to_string(port_);
    std::mutex mutex;
    std::condition_variable reported;
    std::string report;
    httplib::Server rebinding;
    rebinding.Get(".*", [&](const httplib::Request& request, httplib::Response& response) {
        std::string path = request.path;
        if (path.rfind(origin, 0) == 0) path.erase(0, origin.size());
        if (path == "/") {
            response.set_content(
                "<!doctype html><body><script>fetch('/api/summary').then(async (r) => {"
                " const read = await r.text();"
                " fetch('/report?status=' + r.status + '&runs=' + (read.includes('runs') ? 'read' : 'none')); })"
                ".catch(() => fetch('/report?status=failed'));</script></body>",
                "text/html");
            return;
        }
        if (path == "/report") {
            std::lock_guard<std::mutex> lock(mutex);
            report = request.get_param_value("status") + " " + request.get_param_value("runs");
            reported.notify_all();
            return;
        }
        httplib::Client view(host_, port_);
        view.set_connection_timeout(5, 0);
        view.set_read_timeout(10, 0);
        const auto answer = view.Get(path, {{"Host", request.get_header_value("Host")}});
        response.status = answer ? answer->status : 502;
        if (answer) response.set_content(answer->body, answer->get_header_value("Content-Type").c_str());
    });
    // One request per connection: the browser's idle connections never hold
    // the proxy's one thread while the page's own request waits. One thread:
    // the browser's requests side by side (its icon) would race inside
    // the HTTP library's client, as ThreadSanitizer saw.
    rebinding.set_keep_alive_max_count(1);
    rebinding.new_task_queue = [] { return new httplib::ThreadPool(1); };
    const std::string proxyHost = "127.0.0.231";
    const int proxyPort = rebinding.bind_to_any_port(proxyHost);
    ASSERT_GT(proxyPort, 0);
    std::thread serving([&] { rebinding.listen_after_bind(); });
    test::TempDir scratch;
    const pid_t browser = test::startChromium(
        {"--proxy-server=http://" + proxyHost + ":" + std::to_string(proxyPort), origin + "/"},
        scratch.file("profile"), scratch.file("out"), scratch.file("err"));
    {
        std::unique_lock<std::mutex> lock(mutex);
        reported.wait_for(lock, std::chrono::seconds(180), [&] { return !report.empty(); });
    }
    if (browser) test::stopChromium(browser);
    rebinding.stop();
    serving.join();
    ASSERT_NE(browser, 0);
    EXPECT_EQ(report, "403 none") << test::readAll(scratch.file("err"));
}

TEST_F(LineView, ARequestWithABodyIsRefused) {
    const std::string host = "Host: " + host_ + ":" + std::to_string(port_) + "\r\n";
    for (const std::string& request :
         {"POST /api/summary HTTP/1.1\r\n" + host + "Content-Length: 5\r\n\r\nhello",
          "GET /api/summary HTTP/1.1\r\n" + host + "Content-Length: 5\r\n\r\nhello",
          "GET /api/summary HTTP/1.1\r\n" + host + "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n"})
        EXPECT_EQ(rawStatus(host_, port_, request), 413) << request;
}

TEST_F(LineView, RunPageShowsFieldsOfUnexpectedTypesAsText) {
    const std::string html = page("/run?id=" + encoded(oddRun));
    EXPECT_EQ(field(html, 0, "log"), "one line, not a list");
    const std::size_t boot = html.find("<tr data-stage=\"boot\"");
    ASSERT_NE(boot, std::string::npos) << html;
    EXPECT_EQ(field(html, boot, "failure"), "[\"a\",\"b\"]");
    const std::size_t address = html.find("<tr data-address");
    ASSERT_NE(address, std::string::npos) << html;
    EXPECT_EQ(field(html, address, "name"), "5");
    EXPECT_EQ(field(html, address, "readBack"), "12");
}

TEST_F(LineView, ARecordNestedTooDeepIsRefusedAndTheViewServesOn) {
    int status = 0;
    const nlohmann::json refused = nlohmann::json::parse(server_->get("/api/run?id=" + encoded(deepRun), &status), nullptr, false);
    EXPECT_EQ(status, 502);
    const std::string why = refused.is_object() ? refused.value("error", "") : "";
    EXPECT_NE(why.find("nested deeper than 64 levels"), std::string::npos) << why;
    const std::string html = test::dumpDom(server_->url("/run?id=" + encoded(deepRun)));
    EXPECT_NE(html.find("nested deeper than 64 levels"), std::string::npos) << html;
    server_->get("/api/summary", &status);
    EXPECT_EQ(status, 200);
}

TEST_F(LineView, ATranscriptLargerThanAnyBufferIsServedWholeAndShownByItsHead) {
    httplib::Client client(host_, port_);
    client.set_read_timeout(60, 0);
    const auto answer = client.Get((std::string("/transcripts/") + bigTranscript).c_str());
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 200);
    EXPECT_EQ(answer->get_header_value("Content-Length"), std::to_string(bigSize));
    EXPECT_EQ(static_cast<long long>(answer->body.size()), bigSize);
    const std::string head = bigTranscriptHead();
    EXPECT_EQ(answer->body.compare(0, head.size(), head), 0);
    EXPECT_EQ(answer->body.compare(answer->body.size() - bigTail.size(), bigTail.size(), bigTail), 0);

    const std::string html = page("/run?id=" + encoded(bigRun));
    const std::string shown = field(html, 0, "transcript");
    EXPECT_EQ(shown.compare(0, 1000, head, 0, 1000), 0);
    EXPECT_LT(shown.size(), 300u << 10);
    EXPECT_NE(shown.find("the link above opens the whole transcript"), std::string::npos);
}

TEST_F(LineView, TwoHundredIdleConnectionsDoNotHoldTheView) {
    // Opened and never used: each one held a thread of the library's pool.
    std::vector<int> idle;
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(static_cast<std::uint16_t>(port_));
    ::inet_pton(AF_INET, host_.c_str(), &at.sin_addr);
    for (int i = 0; i < 200; ++i) {
        const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ASSERT_EQ(::connect(s, reinterpret_cast<sockaddr*>(&at), sizeof at), 0) << i;
        idle.push_back(s);
    }
    httplib::Client client(host_, port_);
    client.set_read_timeout(60, 0);
    const auto answer = client.Get("/api/summary");
    // Held threads would free only as the view drops idle connections (after
    // 15 s): an answer that came with every one still open came beside them.
    int dropped = 0;
    for (int s : idle) {
        char byte;
        dropped += !(::recv(s, &byte, 1, MSG_PEEK | MSG_DONTWAIT) < 0 && errno == EAGAIN);
        ::close(s);
    }
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 200);
    EXPECT_EQ(dropped, 0);
}

// ---- a slow line database --------------------------------------------------

// A look-up the database does not answer waits for it alone: the Line page
// is answered meanwhile.
TEST(LineViewLineMode, ASlowLookupDelaysOnlyItsOwnAnswer) {
    test::PostgresServer database(24363);
    ASSERT_TRUE(database.ready()) << database.failure();
    std::string diagnostic;
    {
        const auto db = LineDatabase::open(database.connectionString(), 10, diagnostic);
        ASSERT_TRUE(db && db->createTables(diagnostic)) << diagnostic;
    }
    test::TempDir station;
    std::filesystem::copy_file(VORNIX_SOURCE_DIR "/samples/setup.ini", station.file("setup.ini"));
    std::ofstream(station.file("setup.ini"), std::ios::binary | std::ios::app)
        << "\r\n[LINE]\r\nDatabase=" << database.connectionString() << "\r\nPool=line-a\r\nStation=view\r\nTimeout=6\r\n";
    const std::string host = "127.0.0.229";
    const int port = 18080 + static_cast<int>(::getpid()) % 900;
    test::ServedView view(station.file(""), host, port);
    ASSERT_TRUE(view.ready()) << view.failure();

    // Goes on again on every way out of the test.
    struct Resume {
        test::PostgresServer& database;
        ~Resume() { database.signalAll(SIGCONT); }
    } resume{database};
    ASSERT_TRUE(database.signalAll(SIGSTOP));
    int lookupStatus = 0;
    long long lookupMs = 0;
    std::atomic<bool> lookupEnded{false};
    // A plain socket: the HTTP library's client is not to be used from two
    // threads at once (its matchers are shared).
    std::thread lookup([&] {
        const auto start = steady_clock::now();
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_port = htons(static_cast<std::uint16_t>(port));
        ::inet_pton(AF_INET, host.c_str(), &at.sin_addr);
        const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (::connect(s, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0) {
            const std::string request = "GET /api/run?id=only-in-the-database HTTP/1.1\r\nHost: " + host + ":" +
                                        std::to_string(port) + "\r\nConnection: close\r\n\r\n";
            std::string answer;
            char buffer[4096];
            if (::send(s, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size()))
                for (ssize_t n; (n = ::recv(s, buffer, sizeof buffer, 0)) > 0;) answer.append(buffer, n);
            if (answer.compare(0, 9, "HTTP/1.1 ") == 0) lookupStatus = std::atoi(answer.c_str() + 9);
        }
        ::close(s);
        lookupMs = duration_cast<milliseconds>(steady_clock::now() - start).count();
        lookupEnded = true;
    });
    std::this_thread::sleep_for(milliseconds(500));
    int summaryStatus = 0;
    view.get("/api/summary", &summaryStatus);
    // The lookup waits out its 6 s on the stopped database: the summary came
    // beside it, not after it.
    const bool summaryFirst = !lookupEnded;
    lookup.join();
    EXPECT_EQ(summaryStatus, 200);
    EXPECT_TRUE(summaryFirst);
    EXPECT_EQ(lookupStatus, 503) << "no answer within its 6 s";
    EXPECT_GE(lookupMs, 4000);
}

}  // namespace
}  // namespace vornix
