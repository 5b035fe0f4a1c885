// The line view benchmark checks the view's figures against what its
// generator says it made: the records must say the same.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "RunGenerator.h"
#include "records/Journal.h"
#include "records/LineDatabase.h"
#include "support/PostgresServer.h"

namespace bench {
namespace {

using nlohmann::json;
constexpr long long firstMac = 0x001122000000LL;
constexpr int count = 4000;

struct Week {
    std::vector<GeneratedRun> runs;
    Week(bool assignedOnly) {
        RunGenerator generator(3, firstMac, assignedOnly);
        const auto start = std::chrono::system_clock::now() - std::chrono::hours(24 * 7);
        for (int i = 0; i < count; ++i) runs.push_back(generator.next(start + std::chrono::seconds(150 * i)));
    }
};

std::string firstWritten(const json& record) {
    if (!record.contains("mac") || record["mac"]["addresses"].empty()) return "";
    return record["mac"]["addresses"][0]["written"].get<std::string>();
}

// The failure line of a record as the view counts it.
std::string failureLine(const json& record) {
    if (record["result"] == "interrupted") return "interrupted";
    for (const auto& [stage, outcome] : record["stages"].items())
        if (outcome["result"] == "failed") return outcome["failure"].get<std::string>();
    return record["log"].back().get<std::string>();
}

class RunGeneratorTest : public ::testing::TestWithParam<bool> {};

TEST_P(RunGeneratorTest, RecordsSayWhatTheGeneratorReports) {
    const Week week(GetParam());
    long long expectedMac = firstMac, logLines = 0;
    std::map<std::string, int> results, failures;
    std::set<std::string> stations, ids;
    std::set<int> ports;
    for (const GeneratedRun& run : week.runs) {
        const json record = json::parse(run.record);
        EXPECT_EQ(record["run"], run.id);
        EXPECT_TRUE(ids.insert(run.id).second) << "a run id twice: " << run.id;
        EXPECT_EQ(record["station"], run.station);
        EXPECT_EQ(record["result"], run.result);
        EXPECT_EQ(record["started"], vornix::journal::utcText(run.started));
        EXPECT_EQ(record["ended"], vornix::journal::utcText(run.ended));
        EXPECT_EQ(record.value("port", 0), run.port);
        EXPECT_EQ(record.value("interface", ""), run.port ? "veth" + std::to_string(run.port) : "");
        ports.insert(run.port);
        EXPECT_LT(run.started, run.ended);
        EXPECT_EQ(run.record.find("Ftp-7731"), std::string::npos) << "a password in the record";
        // Blocks of 4, each next to the one before; a run that wrote none has none.
        if (run.firstMac < 0) {
            EXPECT_EQ(firstWritten(record), "");
        } else {
            EXPECT_EQ(run.firstMac, expectedMac);
            EXPECT_EQ(firstWritten(record), vornix::formatMac(run.firstMac));
            EXPECT_EQ(record["mac"]["addresses"].size(), 4u);
            expectedMac += RunGenerator::blockSize;
        }
        ++results[run.result];
        if (run.result != "succeeded") ++failures[failureLine(record)];
        stations.insert(run.station);
        logLines += static_cast<long long>(record["log"].size());
    }
    EXPECT_EQ(stations.size(), static_cast<std::size_t>(RunGenerator::stations));
    EXPECT_EQ(ports, (std::set<int>{0, 1, 2, 3, 4})) << "one-port stations and every port of the gangs";
    EXPECT_NEAR(results["failed"], count * 0.08, count * 0.02);
    EXPECT_GT(results["interrupted"], 0);
    EXPECT_LT(results["interrupted"], count / 50);
    EXPECT_GE(failures.size(), 4u);
    EXPECT_LE(failures.size(), 8u) << "a handful of distinct failure lines";
    EXPECT_NEAR(static_cast<double>(logLines) / count, 22, 5);
    // The line database holds blocks that were verified on the router.
    if (GetParam()) {
        EXPECT_EQ(expectedMac, firstMac + RunGenerator::blockSize * count) << "every run has its block";
        EXPECT_EQ(failures.count("Verify Fail : wan_mac = \"00:00:00:00:00:00\""), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(JournalAndLineDatabase, RunGeneratorTest, ::testing::Bool());

// The benchmark fills the line database with COPY ... CSV: records come
// back byte for byte, their quotes, backslashes and escaped line ends too.
TEST(RunGeneratorCsv, RecordsComeBackFromCopyUnchanged) {
    vornix::test::PostgresServer server(24351);
    ASSERT_TRUE(server.ready()) << server.failure();
    const Week week(false);
    const std::string path = "/tmp/vornix-run-generator-test.csv";
    {
        std::ofstream csv(path, std::ios::binary | std::ios::trunc);
        for (int i = 0; i < 50; ++i)
            csv << i << ',' << csvField(week.runs[i].record) << ',' << csvField("a \"quoted\", \\ text") << '\n';
    }
    bool ok = false;
    server.sql("CREATE TABLE t (n INTEGER, record TEXT, other TEXT); COPY t FROM '" + path + "' WITH (FORMAT csv)", &ok);
    ASSERT_TRUE(ok);
    for (int i : {0, 17, 49}) {
        bool found = false;
        EXPECT_EQ(server.sql("SELECT record FROM t WHERE n = " + std::to_string(i), &found), week.runs[i].record + "\n");
        EXPECT_TRUE(found);
    }
    EXPECT_EQ(server.sql("SELECT DISTINCT other FROM t"), "a \"quoted\", \\ text\n");
    std::remove(path.c_str());
}

}  // namespace
}  // namespace bench
