// The line view following a real line database (PostgreSQL on a port of
// its own): what stations store later, and what a station with a wrong
// clock stores, reaches the view; a record stored again replaces its run.
#include <gtest/gtest.h>

#include "records/LineDatabase.h"
#include "support/PostgresServer.h"
#include "support/TempDir.h"
#include "view/LineView.h"

namespace vornix::view {
namespace {

using nlohmann::json;

std::string record(const std::string& id, const std::string& result) {
    return json{{"format", 1},       {"run", id},       {"started", utcText(*parseUtc("2026-12-09T11:00:00Z"))},
                {"ended", "2026-12-09T11:01:00.000Z"}, {"station", "host"}, {"router", "192.168.1.1"},
                {"result", result},  {"ticked", json::array()}, {"stages", json::object()},
                {"log", {"done"}},   {"transcript", ""}}
        .dump();
}

TEST(LineViewDatabase, RecordsStoredLaterOrWithAClockBehindAreFollowed) {
    test::PostgresServer server(24346);
    ASSERT_TRUE(server.ready()) << server.failure();
    std::string diagnostic;
    const auto db = LineDatabase::open(server.connectionString(), 10, diagnostic);
    ASSERT_TRUE(db && db->createTables(diagnostic)) << diagnostic;
    ASSERT_TRUE(db->recordRun("r1", "st1", record("r1", "succeeded"), diagnostic)) << diagnostic;

    test::TempDir dir;
    LineView view({dir.file("."), server.connectionString(), 10, "st1", 0});
    view.setClock([] { return *parseUtc("2026-12-09T12:00:00Z"); });
    EXPECT_EQ(view.load(), "");
    auto summary = [&] { return view.api("/api/summary", {}).body; };
    EXPECT_EQ(summary()["runs"], 1);

    ASSERT_TRUE(db->recordRun("r2", "st2", record("r2", "failed"), diagnostic)) << diagnostic;
    server.sql("INSERT INTO vornix_run VALUES ('late', 'st3', '2001-01-01T00:00:00Z', '" + record("late", "failed") + "')");
    ASSERT_TRUE(db->recordRun("r1", "st1", record("r1", "failed"), diagnostic)) << diagnostic;
    for (const auto& [id, result] : {std::pair{"g1", "failed"}, {"g2", "succeeded"}}) {
        json gangRun = json::parse(record(id, result));
        gangRun.update({{"port", 2}, {"interface", "veth2"}});
        ASSERT_TRUE(db->recordRun(id, "gang", gangRun.dump(), diagnostic)) << diagnostic;
    }
    view.poll();
    const json after = summary();
    EXPECT_EQ(after["runs"], 5);
    EXPECT_EQ(after["failed"], 4) << "r1 stored again as failed";
    EXPECT_EQ(after["stations"].size(), 4u) << "named as the database names them";
    json gang;
    for (const json& station : after["stations"])
        if (station["station"] == "gang") gang = station;
    EXPECT_EQ(gang["ports"], json::parse(R"j([{"port":2,"interface":"veth2","runs":2,"succeeded":1,"failed":1,
        "interrupted":0,"yield":0.5,"topFailure":{"line":"done","count":1}}])j"));
    EXPECT_EQ(after["sources"]["databaseError"], "");
    EXPECT_EQ(view.api("/api/run", {{"id", "late"}}).body["source"], "database");

    // A server that is gone says so, and the view keeps what it had.
    server.stop();
    view.poll();
    const json gone = summary();
    EXPECT_EQ(gone["runs"], 5);
    EXPECT_NE(gone["sources"]["databaseError"], "");
    const LineView::Answer lookup = view.api("/api/address", {{"mac", "00:11:22:33:44:55"}});
    EXPECT_EQ(lookup.status, 503);
    EXPECT_NE(lookup.body["error"], "");
}

// The count of records is compared with the runs read every recount: a
// deleted run makes one whole read (the run stays shown), not one every time.
TEST(LineViewDatabase, ADeletedRunMakesOneWholeReadNotOneEachRecount) {
    test::PostgresServer server(24362);
    ASSERT_TRUE(server.ready()) << server.failure();
    std::string diagnostic;
    const auto db = LineDatabase::open(server.connectionString(), 10, diagnostic);
    ASSERT_TRUE(db && db->createTables(diagnostic)) << diagnostic;
    for (const char* id : {"r1", "r2"})
        ASSERT_TRUE(db->recordRun(id, "st1", record(id, "succeeded"), diagnostic)) << diagnostic;
    // A record nested too deep is refused unparsed, and its run's page says so.
    std::string deep = record("deep", "failed");
    deep.insert(deep.size() - 1, ",\"extra\":" + std::string(100000, '[') + std::string(100000, ']'));
    ASSERT_TRUE(db->recordRun("deep", "st1", deep, diagnostic)) << diagnostic;

    test::TempDir dir;
    LineView view({dir.file("."), server.connectionString(), 10, "st1", 0});  // a recount at every poll
    view.setClock([] { return *parseUtc("2026-12-09T12:00:00Z"); });
    EXPECT_EQ(view.load(), "");
    EXPECT_EQ(view.fullReads(), 1);
    EXPECT_EQ(view.api("/api/summary", {}).body["runs"], 2);
    const LineView::Answer refused = view.api("/api/run", {{"id", "deep"}});
    EXPECT_EQ(refused.status, 502);
    EXPECT_NE(refused.body.value("error", "").find("nested deeper than 64 levels"), std::string::npos)
        << refused.body.dump();

    server.sql("DELETE FROM vornix_run WHERE run_id = 'r2'");
    view.poll();
    EXPECT_EQ(view.fullReads(), 2);
    view.poll();
    view.poll();
    EXPECT_EQ(view.fullReads(), 2) << "the count after the whole read is the one to compare with";
    EXPECT_EQ(view.api("/api/summary", {}).body["runs"], 2) << "a deleted run stays shown";
}

}  // namespace
}  // namespace vornix::view
