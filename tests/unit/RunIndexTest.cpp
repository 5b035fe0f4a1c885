// The line view's figures and answers, from journals the tests write.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "support/TempDir.h"
#include "view/LineView.h"

namespace vornix::view {
namespace {

using nlohmann::json;

constexpr Millis minute = 60000;
const Millis noon = *parseUtc("2026-12-09T12:00:00Z");

// A record as the station writes it; stages as "key:result:ms[:failure]".
std::string record(const std::string& id, const std::string& station, Millis started, const std::string& result,
                   const std::vector<std::string>& stages, const std::string& firstMac = "",
                   const std::string& logLast = "done") {
    json r{{"format", 1},       {"run", id},           {"started", utcText(started)},
           {"ended", utcText(started + minute)},       {"station", station},
           {"program", "vornix 1.0.0"},                {"router", "192.168.1.1"},
           {"result", result},  {"ticked", json::array()}, {"stages", json::object()},
           {"log", {"start", logLast}}, {"transcript", ""}};
    for (const std::string& stage : stages) {
        std::vector<std::string> part;
        std::stringstream in(stage);
        for (std::string p; part.size() < 3 && std::getline(in, p, ':');) part.push_back(p);
        std::string failure;
        std::getline(in, failure);  // the rest, colons and all
        r["ticked"].push_back(part[0]);
        r["stages"][part[0]] = {{"result", part[1]}, {"ms", std::stoi(part[2])}, {"failure", failure}};
    }
    if (!firstMac.empty())
        r["mac"] = {{"startMacBefore", firstMac},
                    {"addresses", {{{"name", "ethaddr"}, {"written", firstMac}, {"readBack", firstMac}}}},
                    {"environment", json::array()}};
    return r.dump();
}

struct Station {
    test::TempDir dir;
    LineView view{{dir.file("."), "", 10, "", 30}};
    Station() { view.setClock([] { return noon; }); }
    void append(const std::string& text) {
        std::ofstream(dir.file("vornix-journal.jsonl"), std::ios::binary | std::ios::app) << text;
    }
    json get(const std::string& path, LineView::Params params = {}, int status = 200) {
        const LineView::Answer answer = view.api(path, params);
        EXPECT_EQ(answer.status, status) << path << ": " << answer.body.dump();
        return answer.body;
    }
};

TEST(RunIndex, AddressesAreReadInEveryCommonNotation) {
    for (const char* text : {"00:11:22:aa:BB:cc", "00-11-22-AA-BB-CC", "001122aabbcc", "0011.22aa.bbCC", " 001122AABBCC "})
        EXPECT_EQ(parseAnyMac(text), 0x001122AABBCCLL) << text;
    for (const char* text : {"", "00:11:22:aa:bb", "00:11-22:aa:bb:cc", "0011223344556", "00:11:22:aa:bb:cg",
                             "00:11:22:aa:bb:c", "+01122334455", "0011.2233-4455"})
        EXPECT_FALSE(parseAnyMac(text)) << text;
}

// Routers are their first address; a failed run that wrote none was a try
// of its station's next router. A retry is not a first pass, and neither is
// a router whose first run was before the span.
TEST(RunIndex, TheSpansFiguresComeFromTheRunsThatStartedInIt) {
    Station s;
    s.append(record("old", "A", noon - 9 * 60 * minute, "failed", {"mac:failed:900:Verify Fail"}, "00:00:00:00:00:01") + "\n" +
             record("a1", "A", noon - 7 * 60 * minute, "succeeded", {"mac:succeeded:1000"}, "00:00:00:00:00:01") + "\n" +
             record("a2", "A", noon - 6 * 60 * minute, "failed", {"mac:failed:3000:Verify Fail : ethaddr != \"00:00:00:00:00:02\" (1)", "boot:not run:0"}, "00:00:00:00:00:02") + "\n" +
             record("a3", "A", noon - 5 * 60 * minute, "succeeded", {"mac:succeeded:2000", "boot:succeeded:40000"}, "00:00:00:00:00:02") + "\n" +
             record("b1", "B", noon - 90 * minute, "succeeded", {"mac:succeeded:4000"}, "00:00:00:00:00:03") + "\n" +
             record("b2", "B", noon - 30 * minute, "failed", {}, "", "Router not found") + "\n" +
             record("b3", "B", noon - 20 * minute, "interrupted", {}) + "\n" +
             record("b4", "B", noon - 10 * minute, "failed", {"boot:failed:5000:Version mismatch"}) + "\n" +
             record("b5", "B", noon - 5 * minute, "failed", {"mac:failed:6000:Verify Fail : ethaddr != \"00-00-00-00-00-0A\" (1)"}, "00:00:00:00:00:0A") + "\n");
    const json sum = s.get("/api/summary", {{"span", "8h"}});
    EXPECT_EQ(sum["runs"], 8);
    EXPECT_EQ(sum["succeeded"], 3);
    EXPECT_EQ(sum["failed"], 4);
    EXPECT_EQ(sum["interrupted"], 1);
    EXPECT_EQ(sum["routers"], 4) << "a2 and a3 are one router; b2, b3 and b4 wrote none: tries of b5's";
    EXPECT_EQ(sum["firstPassRouters"], 1) << "only b1: the first router's first run was before the span";
    EXPECT_EQ(sum["stations"][0], json({{"station", "A"}, {"runs", 3}, {"succeeded", 2}, {"failed", 1},
                                         {"interrupted", 0}, {"routers", 2}, {"yield", 2.0 / 3}, {"ports", json::array()}}));
    EXPECT_EQ(sum["stations"][1]["routers"], 2);
    EXPECT_EQ(sum["failures"], json::parse(R"j([{"line":"Verify Fail : ethaddr != \"xx:xx:xx:xx:xx:xx\" (1)","count":2},
        {"line":"Router not found","count":1},{"line":"Version mismatch","count":1},{"line":"interrupted","count":1}])j"))
        << "lines that differ only in their addresses are one failure";
    EXPECT_EQ(sum["stages"][0], json({{"stage", "mac"}, {"runs", 5}, {"medianMs", 3000}, {"p90Ms", 6000}}));
    EXPECT_EQ(sum["stages"][1], json({{"stage", "boot"}, {"runs", 2}, {"medianMs", 5000}, {"p90Ms", 40000}}))
        << "a stage that did not run has no duration";
    EXPECT_EQ(sum["stages"][2]["medianMs"], nullptr);
    ASSERT_EQ(sum["hours"].size(), 9u);
    EXPECT_EQ(sum["hours"][7], json({{"hour", "2026-12-09T11:00:00.000Z"}, {"succeeded", 0}, {"failed", 4}}));
    EXPECT_EQ(s.get("/api/summary", {{"span", "1h"}})["runs"], 4);
    EXPECT_EQ(sum["pools"], json::array());

    const json failedAtA = s.get("/api/runs", {{"station", "A"}, {"result", "failed"}});
    EXPECT_EQ(failedAtA["total"], 2);
    EXPECT_EQ(failedAtA["runs"][0]["run"], "a2") << "newest first";
    EXPECT_EQ(failedAtA["runs"][0]["stages"]["mac"]["failure"], "Verify Fail : ethaddr != \"00:00:00:00:00:02\" (1)");
    const json page = s.get("/api/runs", {{"stage", "boot"}, {"size", "1"}, {"page", "2"}});
    EXPECT_EQ(page["total"], 3);
    EXPECT_EQ(page["runs"].size(), 1u);
    EXPECT_EQ(page["runs"][0]["run"], "a3");
    EXPECT_EQ(s.get("/api/runs", {{"from", "2026-12-09T11:00:00Z"}})["total"], 4);
}

// A gang station's run: its record with the port and the port's interface.
std::string onPort(const std::string& text, int port, const std::string& interfaceName) {
    json r = json::parse(text);
    r["port"] = port;
    r["interface"] = interfaceName;
    return r.dump();
}

// Each port of a gang station in figures of its own, counted as its
// station's; a failed try without addresses belongs to its own port's next
// router, and a port that is not 1 to 8 is no port.
TEST(RunIndex, AGangStationsPortsHaveFiguresOfTheirOwn) {
    Station s;
    const std::string verifyFail = "Verify Fail : ethaddr != \"00:00:00:00:01:0";
    const std::string runs[] = {
        onPort(record("g1", "G", noon - 100 * minute, "succeeded", {"mac:succeeded:1000"}, "00:00:00:00:01:01"), 1, "veth0"),
        onPort(record("g2", "G", noon - 95 * minute, "failed", {"mac:failed:900:" + verifyFail + "2\" (1)"}, "00:00:00:00:01:02"), 2, "veth2"),
        onPort(record("g3", "G", noon - 90 * minute, "failed", {}, "", "Router not found"), 2, "veth2"),
        onPort(record("g4", "G", noon - 85 * minute, "interrupted", {}), 3, "veth3"),
        onPort(record("g5", "G", noon - 80 * minute, "succeeded", {"mac:succeeded:1000"}, "00:00:00:00:01:05"), 1, "veth1"),
        onPort(record("g6", "G", noon - 75 * minute, "failed", {"mac:failed:900:" + verifyFail + "6\" (1)"}, "00:00:00:00:01:06"), 2, "veth2"),
        onPort(record("g7", "G", noon - 70 * minute, "failed", {"mac:succeeded:1000", "boot:failed:5000:Version mismatch"}, "00:00:00:00:01:07"), 3, "veth3"),
        onPort(record("g8", "G", noon - 65 * minute, "succeeded", {"mac:succeeded:1000"}, "00:00:00:00:01:06"), 2, "veth2"),
        onPort(record("g9", "G", noon - 58 * minute, "succeeded", {"mac:succeeded:1000"}, "00:00:00:00:01:0A"), 9, "veth9"),
        onPort(record("g10", "G", noon - 55 * minute, "succeeded", {"mac:succeeded:1000"}, "00:00:00:00:01:0B"), 3, "veth3"),
        record("a1", "A", noon - 50 * minute, "succeeded", {"mac:succeeded:1000"}, "00:00:00:00:02:01"),
    };
    for (const std::string& run : runs) s.append(run + "\n");
    const json sum = s.get("/api/summary");
    ASSERT_EQ(sum["stations"].size(), 2u);
    EXPECT_EQ(sum["stations"][1]["ports"], json::array()) << "a one-port station";
    const json& gang = sum["stations"][0];
    EXPECT_EQ(gang["runs"], 10) << "g9, of no port, too";
    EXPECT_EQ(gang["ports"], json::parse(R"j([
        {"port":1,"interface":"veth1","runs":2,"succeeded":2,"failed":0,"interrupted":0,"yield":1.0,"topFailure":null},
        {"port":2,"interface":"veth2","runs":4,"succeeded":1,"failed":3,"interrupted":0,"yield":0.25,
         "topFailure":{"line":"Verify Fail : ethaddr != \"xx:xx:xx:xx:xx:xx\" (1)","count":2}},
        {"port":3,"interface":"veth3","runs":3,"succeeded":1,"failed":1,"interrupted":1,"yield":0.3333333333333333,
         "topFailure":{"line":"Version mismatch","count":1}}])j"))
        << "port 1's interface as its latest run names it; of equal counts the first line in order";
    // g3 is a try of g6's router (port 2), g4 of g7's (port 3): g5's router was right the first time.
    EXPECT_EQ(sum["routers"], 8);
    EXPECT_EQ(sum["firstPassRouters"], 5) << "g1, g5, g9, g10 and a1";
}

// The journal is read where the last answer stopped; a line still being
// written waits for its end, and a journal replaced is read anew.
TEST(RunIndex, AJournalIsReadOnlyWhereItGrew) {
    Station s;
    const std::string second = record("r2", "A", noon - 2 * minute, "failed", {"mac:failed:10:Verify Fail"}, "00:00:00:00:00:09");
    s.append(record("r1", "A", noon - 3 * minute, "succeeded", {"mac:succeeded:10"}, "00:00:00:00:00:09") + "\n" +
             second.substr(0, 40));
    EXPECT_EQ(s.get("/api/summary")["runs"], 1);
    s.append(second.substr(40) + "\nnot a record\n");
    json sum = s.get("/api/summary");
    EXPECT_EQ(sum["runs"], 2);
    EXPECT_EQ(sum["routers"], 1);
    EXPECT_EQ(s.get("/api/address", {{"mac", "000000000009"}})["run"], "r1") << "the run that succeeded received it";
    EXPECT_EQ(s.get("/api/run", {{"id", "r2"}})["record"]["stages"]["mac"]["failure"], "Verify Fail");

    std::filesystem::remove(s.dir.file("vornix-journal.jsonl"));
    s.append(record("r3", "B", noon - minute, "succeeded", {}) + "\n");
    sum = s.get("/api/summary");
    EXPECT_EQ(sum["runs"], 1);
    EXPECT_EQ(sum["stations"][0]["station"], "B");
    EXPECT_EQ(s.get("/api/address", {{"mac", "00:00:00:00:00:09"}})["found"], false);
}

TEST(RunIndex, MalformedParametersAreRefusedWithOneLine) {
    Station s;
    const std::vector<std::pair<std::string, LineView::Params>> cases = {
        {"/api/summary", {{"span", "3w"}}},         {"/api/runs", {{"page", "x"}}},
        {"/api/runs", {{"page", "0"}}},             {"/api/runs", {{"size", "501"}}},
        {"/api/runs", {{"result", "ok"}}},          {"/api/runs", {{"stage", "wifi"}}},
        {"/api/runs", {{"from", "yesterday"}}},     {"/api/runs", {{"to", "2026-13-01T00:00:00Z"}}},
        {"/api/run", {}},                           {"/api/address", {{"mac", "zz"}}},
        {"/api/address", {}},
    };
    for (const auto& [path, params] : cases) {
        const json body = s.get(path, params, 400);
        ASSERT_TRUE(body["error"].is_string()) << path;
        EXPECT_EQ(body["error"].get<std::string>().find('\n'), std::string::npos);
    }
    s.get("/api/run", {{"id", "nobody"}}, 404);
    s.get("/api/nothing", {}, 404);
}

TEST(RunIndex, RecordsDeeperThanTheBoundAreRefusedUnparsed) {
    auto nested = [](int depth, const std::string& inside = "") {
        return std::string(static_cast<std::size_t>(depth), '[') + inside + std::string(static_cast<std::size_t>(depth), ']');
    };
    const std::string deep = nested(maxRecordDepth + 1);
    const std::pair<std::string, bool> cases[] = {
        {"{\"run\":\"r\",\"x\":" + nested(maxRecordDepth - 1) + "}", false},
        {"{\"run\":\"r\",\"x\":" + nested(maxRecordDepth) + "}", true},
        {"{\"log\":\"" + deep + "\"}", false},                      // brackets in a string
        {"{\"log\":\"a \\\" " + deep + "\"}", false},            // after an escaped quote, still the string
        {"{\"log\":\"a\\\\\",\"x\":" + deep + "}", true},    // an escaped backslash ends it
        {std::string(maxRecordBytes + 1, ' '), true},
    };
    for (const auto& [text, refused] : cases) {
        std::string id;
        EXPECT_EQ(!recordRefusal(text).empty(), refused) << text.substr(0, 80);
        EXPECT_EQ(!recordRefusal(text, &id).empty(), refused) << text.substr(0, 80);
    }
    std::string id;
    EXPECT_EQ(recordRefusal("{\"format\":1,\"extra\":" + deep + ",\"run\":\"the run\"}", &id),
              "nested deeper than 64 levels");
    EXPECT_EQ(id, "the run");
}

// What the view serves for a transcript's name: its status, and the file's text.
int transcript(LineView& view, const std::string& name, std::string& text) {
    int fd = -1;
    long long size = 0;
    const int status = view.transcript(name, fd, size);
    text.clear();
    if (status != 200) return status;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(n));
    ::close(fd);
    EXPECT_EQ(static_cast<long long>(text.size()), size) << name;
    return status;
}

TEST(RunIndex, OnlyPlainNamesInTheTranscriptsFolderAreServed) {
    Station s;
    std::filesystem::create_directories(s.dir.file("transcripts"));
    std::ofstream(s.dir.file("transcripts/run.log")) << "the router said\n";
    std::filesystem::create_symlink(s.dir.file("setup.ini"), s.dir.file("transcripts/link.log"));
    std::ofstream(s.dir.file("setup.ini")) << "[SETUP]\n";
    ::mkfifo(s.dir.file("transcripts/fifo.log").c_str(), 0600);
    std::string text;
    EXPECT_EQ(transcript(s.view, "run.log", text), 200);
    EXPECT_EQ(text, "the router said\n");
    for (const char* name : {"../setup.ini", "..", "/etc/passwd", "a/../../setup.ini", "..\\setup.ini", ".hidden", ""})
        EXPECT_EQ(transcript(s.view, name, text), 400) << name;
    EXPECT_EQ(transcript(s.view, "link.log", text), 404) << "a link leads out of the folder";
    EXPECT_EQ(transcript(s.view, "fifo.log", text), 404) << "only a regular file";
    EXPECT_EQ(transcript(s.view, "missing.log", text), 404);
}

// A link put in a transcript's place between the view's look and its read
// is never followed: the file is checked as opened.
TEST(RunIndex, ALinkSwappedInForATranscriptIsNeverFollowed) {
    Station s;
    std::filesystem::create_directories(s.dir.file("transcripts"));
    std::ofstream(s.dir.file("secret")) << "Pwd=hunter2\n";
    std::ofstream(s.dir.file("file.tmp")) << "the router said\n";
    std::filesystem::create_symlink(s.dir.file("secret"), s.dir.file("link.tmp"));
    const std::string name = s.dir.file("transcripts/run.log");
    std::filesystem::copy_file(s.dir.file("file.tmp"), name);
    std::atomic<bool> stop{false};
    std::thread swapper([&] {
        // Each rename puts the other one in place, atomically.
        for (bool link = true; !stop; link = !link) {
            if (link) std::filesystem::create_symlink(s.dir.file("secret"), s.dir.file("next"));
            else std::filesystem::copy_file(s.dir.file("file.tmp"), s.dir.file("next"));
            std::filesystem::rename(s.dir.file("next"), name);
        }
    });
    // Read until both states have been met many times, however the two
    // threads are scheduled: a swapper held off the processor for the whole
    // of a fixed count of reads once left nothing served.
    int served = 0, refused = 0, leaked = 0;
    std::string text;
    while ((served < 500 || refused < 500) && leaked == 0) {
        if (transcript(s.view, "run.log", text) != 200) {
            ++refused;
            continue;
        }
        ++served;
        leaked += text.find("hunter2") != std::string::npos;
    }
    stop = true;
    swapper.join();
    EXPECT_EQ(leaked, 0);
}

}  // namespace
}  // namespace vornix::view
