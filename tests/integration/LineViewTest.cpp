// The line view as a supervisor sees it: vornix-cli --serve in a station
// directory whose journal the test wrote, its pages rendered by Debian's
// Chromium, and its HTTP answers to paths and parameters that are wrong.
#include <gtest/gtest.h>
#include <httplib.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <regex>
#include <set>
#include <tuple>

#include "records/Journal.h"
#include "support/Chromium.h"
#include "support/ServedView.h"
#include "support/TempDir.h"
#include "view/Assets.h"

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
};

// Three stations over the last 8 hours and one run before them: retries of
// a router (same first MAC), a router whose first run lies outside the span,
// a router that did not answer, interrupted runs with and without addresses.
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
        station_->write(journal::fileName, journal);
        // Another test process may hold an address and port: the next is tried.
        const int salt = static_cast<int>(::getpid());
        for (int attempt = 0; attempt < 20 && !(server_ && server_->ready()); ++attempt) {
            delete server_;
            host_ = "127.0.0." + std::to_string(232 + (salt + attempt) % 8);
            port_ = 18080 + (salt / 8 + attempt * 37) % 900;
            server_ = new test::ServedView(station_->file(""), host_, port_);
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
        const std::string html = test::dumpDom(server_->url(path));
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

}  // namespace
}  // namespace vornix
