// The line database client against a real PostgreSQL server through
// unixODBC and psqlODBC: each test starts a cluster of its own on its own
// port (24320-24335), so tests run side by side. Without PostgreSQL they fail.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "config/IniProfile.h"
#include "records/LineClient.h"
#include "records/LineCommands.h"
#include "records/LineDatabase.h"
#include "records/Odbc.h"
#include "support/PostgresServer.h"
#include "support/TempDir.h"

namespace vornix {
namespace {

using Add = LineDatabase::AddResult;
using Reserve = LineDatabase::ReserveResult;
using Assign = LineDatabase::AssignResult;

const long long base = 0x001122000000LL;  // 00:11:22:00:00:00

// ---------------------------------------------------------------- text, no server

TEST(LineText, Utf16BothWaysWithMalformedInputReplaced) {
    const struct {
        std::string utf8;
        std::u16string utf16;
    } cases[] = {
        {"", u""},
        {"Pool-7 ab", u"Pool-7 ab"},
        {"Stra\xC3\x9F" "e \xE2\x82\xAC", u"Stra\u00DFe \u20AC"},
        {"\xF0\x9F\x98\x80!", u"\U0001F600!"},                 // a surrogate pair
        {"a\xFFz", u"a\uFFFDz"},                                // a byte that starts nothing
        {"a\xC3", u"a\uFFFD"},                                  // cut at the end
        {"a\xE2\x82z", u"a\uFFFDz"},                            // cut before a plain character
        {"\xC0\xAF", u"\uFFFD\uFFFD"},                          // overlong lead
        {"\xE0\x80\xAF", u"\uFFFD"},                            // overlong three bytes
        {"\xED\xA0\x80", u"\uFFFD"},                            // an encoded surrogate
        {"\xF4\x90\x80\x80", u"\uFFFD"},                        // above U+10FFFF
    };
    for (const auto& c : cases) EXPECT_EQ(odbc::toUtf16(c.utf8), c.utf16) << c.utf8;
    for (const auto& c : cases) {
        if (c.utf16.find(u'\uFFFD') == std::u16string::npos) {
            EXPECT_EQ(odbc::toUtf8(c.utf16), c.utf8) << c.utf8;
        }
    }
    // A lone surrogate from a driver becomes U+FFFD, not invalid UTF-8.
    EXPECT_EQ(odbc::toUtf8(std::u16string{u'a', char16_t(0xD800), u'b'}), "a\xEF\xBF\xBD" "b");
    EXPECT_EQ(odbc::toUtf8(std::u16string{char16_t(0xDC00)}), "\xEF\xBF\xBD");
}

TEST(LineText, PasswordsAreMaskedInAnyCaseAndForm) {
    const std::string connection = "Driver={PostgreSQL Unicode};Server=db;Uid=line;PWD=s3cret;";
    const struct {
        std::string text, connection, masked;
    } cases[] = {
        {connection, connection, "Driver={PostgreSQL Unicode};Server=db;Uid=line;PWD=***;"},
        {"uid=a;pwd=x1;port=5", "uid=a;pwd=x1;port=5", "uid=a;pwd=***;port=5"},
        {"Uid=a;Password = hunter2 ;Port=5", "Uid=a;Password = hunter2 ;Port=5", "Uid=a;Password = ***;Port=5"},
        {"UID=a;PASSWORD={p;w}}d};X=1", "UID=a;PASSWORD={p;w}}d};X=1", "UID=a;PASSWORD=***;X=1"},
        {"Uid=a;pAsSwOrD=last", "Uid=a;pAsSwOrD=last", "Uid=a;pAsSwOrD=***"},
        // The value elsewhere in a message, as the driver might quote it.
        {"login failed for 'line' with s3cret at db", connection, "login failed for 'line' with *** at db"},
        {"braced p;w}d and raw {p;w}}d}", "Pwd={p;w}}d}", "braced *** and raw ***"},
        {"Pwd=ab\"cd;", "Pwd=ab\"cd;", "Pwd=***;"},
        // Masking twice changes nothing, and a quote ends a value in a message.
        {"to \"Uid=a;Pwd=***\": failed", "", "to \"Uid=a;Pwd=***\": failed"},
        {"to \"Uid=a;Pwd=other\": failed", "", "to \"Uid=a;Pwd=***\": failed"},
        // Across lines of a driver's message, each line masked on its own.
        {"pwd=a1\nnext line", "", "pwd=***\nnext line"},
        {"no secrets here: Uid=line;Port=5", connection, "no secrets here: Uid=line;Port=5"},
        {"password authentication failed", connection, "password authentication failed"},
    };
    for (const auto& c : cases) EXPECT_EQ(odbc::maskPasswords(c.text, c.connection), c.masked) << c.text;
}

TEST(LineText, AddressesAreSixHexadecimalPairsWithColons) {
    EXPECT_EQ(parseMac("00:11:22:0a:Bc:FF"), 0x0011220ABCFFLL);
    EXPECT_EQ(formatMac(0xFFFFFFFFFFFFLL), "FF:FF:FF:FF:FF:FF");
    for (const char* bad : {"", "00:11:22:00:00", "00:11:22:00:00:000", "00-11-22-00-00-00", "00:11:22:00:00:0g",
                            " 0:11:22:00:00:00", "00:11:22:00:00:+1", "001122000000"})
        EXPECT_FALSE(parseMac(bad)) << bad;
}

// ---------------------------------------------------------------- against a server

// A server of the test's own, an open client and ways to look at the
// tables without it.
class LineDatabaseTest : public ::testing::Test {
protected:
    void startServer(int port) {
        server_ = std::make_unique<test::PostgresServer>(port);
        ASSERT_TRUE(server_->ready()) << "this test needs PostgreSQL (scripts/install-deps): " << server_->failure();
    }
    std::unique_ptr<LineDatabase> connect() {
        std::string diagnostic;
        auto db = LineDatabase::open(server_->connectionString(), 10, diagnostic);
        EXPECT_TRUE(db) << diagnostic;
        return db;
    }
    // A server, tables and one pool of `size` addresses from 00:11:22:00:00:00.
    void startLine(int port, long long size) {
        ASSERT_NO_FATAL_FAILURE(startServer(port));
        db_ = connect();
        ASSERT_TRUE(db_);
        std::string diagnostic;
        ASSERT_TRUE(db_->createTables(diagnostic)) << diagnostic;
        ASSERT_EQ(db_->addPool("line-a", formatMac(base), formatMac(base + size - 1), diagnostic), Add::Added)
            << diagnostic;
    }
    std::string sql(const std::string& statement) {
        bool ok = false;
        std::string rows = server_->sql(statement, &ok);
        EXPECT_TRUE(ok) << statement;
        return rows;
    }
    // Everything a call could change, as text.
    std::string tables() {
        return sql("SELECT name, next_mac FROM vornix_pool ORDER BY name") + "--\n" +
               sql("SELECT id, station, state FROM vornix_reservation ORDER BY id") + "--\n" +
               sql("SELECT mac, reservation_id FROM vornix_assignment ORDER BY mac") + "--\n" +
               sql("SELECT run_id FROM vornix_run ORDER BY run_id");
    }
    // A reservation for a run of its own ("run-1", "run-2", ...) unless holder is given.
    Reservation reserve(const std::string& station, int count, Reserve expected = Reserve::Reserved,
                        std::string holder = "", int lease = 3600) {
        if (holder.empty()) holder = "run-" + std::to_string(++runs_);
        Reservation reservation;
        std::string diagnostic;
        EXPECT_EQ(db_->reserve("line-a", station, count, holder, lease, reservation, diagnostic), expected)
            << diagnostic;
        return reservation;
    }
    Assign assign(const Reservation& block, const std::string& station, std::string& diagnostic) {
        return db_->assign(block.id, station, "192.168.1.1", block.holder, diagnostic);
    }
    int runs_ = 0;

    std::unique_ptr<test::PostgresServer> server_;
    std::unique_ptr<LineDatabase> db_;
};

TEST_F(LineDatabaseTest, TablesAreCreatedOnceWhetherAskedAgainOrByStationsAtOnce) {
    ASSERT_NO_FATAL_FAILURE(startServer(24320));
    auto db = connect();
    ASSERT_TRUE(db);
    std::string diagnostic;
    ASSERT_TRUE(db->createTables(diagnostic)) << diagnostic;
    ASSERT_EQ(db->addPool("kept", "00:11:22:00:00:00", "00:11:22:00:00:09", diagnostic), Add::Added);
    ASSERT_TRUE(db->createTables(diagnostic)) << diagnostic;
    EXPECT_EQ(sql("SELECT name FROM vornix_pool"), "kept\n") << "a second set-up keeps what is there";
    EXPECT_EQ(sql("SELECT count(*) FROM pg_tables WHERE tablename LIKE 'vornix\\_%'"), "7\n");

    // Four stations set up an empty database at the same moment, again and again.
    db.reset();
    for (int round = 0; round < 5; ++round) {
        sql("DROP TABLE IF EXISTS vornix_assignment, vornix_run, vornix_reservation, vornix_pool, vornix_lock");
        std::vector<std::unique_ptr<LineDatabase>> stations;
        for (int i = 0; i < 4; ++i) stations.push_back(connect());
        std::atomic<int> waiting{4};
        std::vector<std::string> problems(4);
        std::vector<int> results(4, 0);
        std::vector<std::thread> threads;
        for (int i = 0; i < 4; ++i)
            threads.emplace_back([&, i] {
                for (--waiting; waiting > 0;) std::this_thread::yield();
                results[i] = stations[i] && stations[i]->createTables(problems[i]);
            });
        for (auto& t : threads) t.join();
        for (int i = 0; i < 4; ++i) EXPECT_EQ(results[i], 1) << "round " << round << ": " << problems[i];
        EXPECT_EQ(sql("SELECT count(*) FROM pg_tables WHERE tablename LIKE 'vornix\\_%'"), "7\n");
    }
    // A database set up by an earlier version gets what it lacks.
    sql("ALTER TABLE vornix_reservation DROP COLUMN holder, DROP COLUMN lease_until");
    sql("DROP TABLE vornix_lock");
    ASSERT_TRUE(connect()->createTables(diagnostic)) << diagnostic;
    EXPECT_EQ(sql("SELECT count(*) FROM information_schema.columns WHERE table_name = 'vornix_reservation'"
                  " AND column_name IN ('holder', 'lease_until')"),
              "2\n");
    EXPECT_EQ(sql("SELECT name FROM vornix_lock"), "pools\n");
}

TEST_F(LineDatabaseTest, PoolsAreAddedOnceInsideTheirBlockAndNeverOverlap) {
    ASSERT_NO_FATAL_FAILURE(startLine(24321, 0x100));  // line-a: 00:11:22:00:00:00 - 00:11:22:00:00:FF
    const struct {
        const char *name, *first, *last;
        Add result;
        const char* diagnostic;
    } cases[] = {
        {"line-b", "00:11:22:00:01:00", "00:11:22:00:01:ff", Add::Added, ""},
        {"line-b", "00:11:22:00:05:00", "00:11:22:00:05:ff", Add::Exists,
         "pool line-b already exists with another range: 00:11:22:00:01:00 - 00:11:22:00:01:FF"},
        {"line-c", "00:11:22:00:00:FF", "00:11:22:00:00:FF", Add::Invalid,
         "the range 00:11:22:00:00:FF - 00:11:22:00:00:FF overlaps pool line-a (00:11:22:00:00:00 - 00:11:22:00:00:FF)"},
        {"line-c", "00:11:22:00:00:00", "00:11:22:00:FF:FF", Add::Invalid,
         "the range 00:11:22:00:00:00 - 00:11:22:00:FF:FF overlaps pool line-a (00:11:22:00:00:00 - 00:11:22:00:00:FF)"},
        {"line-c", "00:11:22:00:02:00", "00:11:22:00:02:00", Add::Added, ""},
        {"line-d", "00:11:22:00:03:00", "00:11:22:00:02:FF", Add::Invalid,
         "the first address 00:11:22:00:03:00 is above the last 00:11:22:00:02:FF"},
        {"line-d", "00:11:22:FF:FF:00", "00:11:23:00:00:FF", Add::Invalid,
         "the range 00:11:22:FF:FF:00 - 00:11:23:00:00:FF leaves its 24-bit block: the first three octets must be equal"},
        {"line-d", "00:11:22:00:03:00", "not-a-mac", Add::Invalid, "not a MAC address (XX:XX:XX:XX:XX:XX): not-a-mac"},
        {"", "00:11:22:00:03:00", "00:11:22:00:03:00", Add::Invalid, "the pool name is empty"},
        {"tab\there", "00:11:22:00:03:00", "00:11:22:00:03:00", Add::Invalid,
         "the pool name contains a control character"},
        // Names are data, never SQL.
        {"x'); DROP TABLE vornix_pool; --", "00:11:23:00:00:00", "00:11:23:00:00:01", Add::Added, ""},
    };
    for (const auto& c : cases) {
        std::string diagnostic;
        EXPECT_EQ(db_->addPool(c.name, c.first, c.last, diagnostic), c.result) << c.name << " " << c.first;
        if (c.result != Add::Added) {
            EXPECT_EQ(diagnostic, c.diagnostic) << c.name << " " << c.first;
        }
    }
    EXPECT_EQ(sql("SELECT name, first_mac, last_mac, next_mac FROM vornix_pool ORDER BY first_mac"),
              "line-a|73584869376|73584869631|73584869376\n"
              "line-b|73584869632|73584869887|73584869632\n"
              "line-c|73584869888|73584869888|73584869888\n"
              "x'); DROP TABLE vornix_pool; --|73601646592|73601646593|73601646592\n");
}

// Stations adding pools at the same moment: of two overlapping ranges one is
// refused, however the checks and inserts interleave.
TEST_F(LineDatabaseTest, PoolsAddedAtOnceNeverOverlap) {
    ASSERT_NO_FATAL_FAILURE(startServer(24333));
    std::string diagnostic;
    ASSERT_TRUE(connect()->createTables(diagnostic)) << diagnostic;
    std::vector<std::unique_ptr<LineDatabase>> stations;
    for (int i = 0; i < 4; ++i) stations.push_back(connect());
    for (int round = 0; round < 10; ++round) {
        // Four ranges of one 24-bit block, each overlapping the next.
        const std::string octets = "00:11:" + std::to_string(10 + round);
        std::atomic<int> waiting{4};
        std::vector<Add> results(4, Add::Failed);
        std::vector<std::thread> threads;
        for (int i = 0; i < 4; ++i)
            threads.emplace_back([&, i] {
                std::string problem;
                for (--waiting; waiting > 0;) std::this_thread::yield();
                results[i] = stations[i]->addPool("p" + std::to_string(round) + "-" + std::to_string(i),
                                                  octets + ":00:0" + std::to_string(i) + ":00",
                                                  octets + ":00:0" + std::to_string(i + 1) + ":FF", problem);
            });
        for (auto& t : threads) t.join();
        EXPECT_EQ(std::count(results.begin(), results.end(), Add::Failed), 0) << "round " << round;
    }
    EXPECT_EQ(sql("SELECT count(*) FROM vornix_pool a JOIN vornix_pool b ON a.name < b.name"
                  " AND a.first_mac <= b.last_mac AND b.first_mac <= a.last_mac"),
              "0\n");
    EXPECT_GE(std::stoi(sql("SELECT count(*) FROM vornix_pool")), 20) << "of four overlapping ranges, two fit";
}

TEST_F(LineDatabaseTest, ReservedBlocksFollowEachOtherAndAssignmentsRecordEveryAddress) {
    ASSERT_NO_FATAL_FAILURE(startLine(24322, 0x1000));
    std::string diagnostic;
    const Reservation a = reserve("st-1", 4);
    EXPECT_EQ(a.first, base);
    EXPECT_EQ(a.count, 4);
    EXPECT_FALSE(a.again);
    ASSERT_EQ(assign(a, "st-1", diagnostic), Assign::Assigned) << diagnostic;
    const Reservation b = reserve("st-1", 4);
    EXPECT_EQ(b.first, base + 4);
    const Reservation c = reserve("st-2", 2);
    EXPECT_EQ(c.first, base + 8);
    ASSERT_EQ(assign(c, "st-2", diagnostic), Assign::Assigned) << diagnostic;
    ASSERT_EQ(assign(b, "st-1", diagnostic), Assign::Assigned) << diagnostic;
    const Reservation d = reserve("st-1", 1);
    EXPECT_EQ(d.first, base + 10);

    EXPECT_EQ(sql("SELECT mac - 73584869376, station, router, run_id FROM vornix_assignment ORDER BY mac"),
              "0|st-1|192.168.1.1|run-1\n1|st-1|192.168.1.1|run-1\n2|st-1|192.168.1.1|run-1\n"
              "3|st-1|192.168.1.1|run-1\n4|st-1|192.168.1.1|run-2\n5|st-1|192.168.1.1|run-2\n"
              "6|st-1|192.168.1.1|run-2\n7|st-1|192.168.1.1|run-2\n8|st-2|192.168.1.1|run-3\n"
              "9|st-2|192.168.1.1|run-3\n");
    EXPECT_EQ(sql("SELECT id - 73584869376, station, first_mac - 73584869376, mac_count, state FROM vornix_reservation"
                  " ORDER BY id"),
              "0|st-1|0|4|assigned\n4|st-1|4|4|assigned\n8|st-2|8|2|assigned\n10|st-1|10|1|open\n");
    // Times are UTC text, the same moment in every engine.
    EXPECT_EQ(sql("SELECT count(*) FROM vornix_assignment WHERE assigned_at NOT LIKE '____-__-__T__:__:__Z'"), "0\n");

    std::vector<PoolStatus> pools;
    std::vector<OpenReservation> open;
    ASSERT_TRUE(db_->status(pools, open, diagnostic)) << diagnostic;
    ASSERT_EQ(pools.size(), 1u);
    EXPECT_EQ(pools[0].name, "line-a");
    EXPECT_EQ(pools[0].used, 11);
    EXPECT_EQ(pools[0].free, 0x1000 - 11);
    ASSERT_EQ(open.size(), 1u);
    EXPECT_EQ(open[0].station, "st-1");
    EXPECT_EQ(open[0].first, base + 10);
    EXPECT_EQ(open[0].count, 1);

    // The run's record, text of any length and any character.
    const std::string record = "{\"run\": \"run-1\", \"note\": \"" + std::string(5000, 'x') + " \xE2\x82\xAC\"}";
    ASSERT_TRUE(db_->recordRun("run-1", "st-1", record, diagnostic)) << diagnostic;
    EXPECT_EQ(sql("SELECT run_id, station, octet_length(record_text) FROM vornix_run"),
              "run-1|st-1|" + std::to_string(record.size()) + "\n");
    EXPECT_EQ(sql("SELECT record_text FROM vornix_run"), record + "\n");
    ASSERT_TRUE(db_->recordRun("run-1", "st-1", "{}", diagnostic)) << diagnostic;
    EXPECT_EQ(sql("SELECT run_id, record_text FROM vornix_run"), "run-1|{}\n") << "a run's record stored again replaces it";
}

TEST_F(LineDatabaseTest, AnExhaustedPoolKeepsItsLastAddressesForSmallerBlocks) {
    ASSERT_NO_FATAL_FAILURE(startLine(24323, 10));
    std::string diagnostic;
    reserve("st-1", 4);
    reserve("st-2", 4);
    const std::string before = tables();
    Reservation none;
    EXPECT_EQ(db_->reserve("line-a", "st-3", 4, "run-x", 3600, none, diagnostic), Reserve::Exhausted);
    EXPECT_EQ(diagnostic, "pool line-a is exhausted: 2 addresses left, 4 needed");
    EXPECT_EQ(tables(), before);
    EXPECT_EQ(reserve("st-3", 2).first, base + 8);
    EXPECT_EQ(db_->reserve("line-a", "st-4", 1, "run-x", 3600, none, diagnostic), Reserve::Exhausted);
    EXPECT_EQ(diagnostic, "pool line-a is exhausted: 0 addresses left, 1 needed");
    EXPECT_EQ(db_->reserve("line-z", "st-4", 1, "run-x", 3600, none, diagnostic), Reserve::NoSuchPool);
    EXPECT_EQ(diagnostic, "no pool line-z in the line database");

    const struct {
        std::string pool, station;
        int count;
        const char* diagnostic;
    } invalid[] = {
        {"line-a", "st-4", 0, "cannot reserve 0 addresses in pool line-a: a block holds 1 to 16777216 addresses"},
        {"line-a", "st-4", -3, "cannot reserve -3 addresses in pool line-a: a block holds 1 to 16777216 addresses"},
        {"line-a", "", 1, "cannot reserve 1 addresses in pool line-a: the station name is empty"},
        {"", "st-4", 1, "cannot reserve 1 addresses in pool : the pool name is empty"},
    };
    for (const auto& c : invalid) {
        EXPECT_EQ(db_->reserve(c.pool, c.station, c.count, "run-x", 3600, none, diagnostic), Reserve::Failed) << c.diagnostic;
        EXPECT_EQ(diagnostic, c.diagnostic);
    }
    std::vector<PoolStatus> pools;
    std::vector<OpenReservation> open;
    ASSERT_TRUE(db_->status(pools, open, diagnostic)) << diagnostic;
    EXPECT_EQ(pools.at(0).used, 10);
    EXPECT_EQ(pools.at(0).free, 0);
}

TEST_F(LineDatabaseTest, ABlockGoesToAnotherRunOnlyOnceItsHolderIsGone) {
    ASSERT_NO_FATAL_FAILURE(startLine(24324, 0x100));
    std::string diagnostic;
    std::vector<Reservation> spent;
    const Reservation first = reserve("st-1", 4, Reserve::Reserved, "run-1");
    // A second live run of a station of the same name gets a block of its own.
    const Reservation twin = reserve("st-1", 4, Reserve::Reserved, "run-2");
    EXPECT_EQ(twin.first, base + 4);
    EXPECT_FALSE(twin.again);
    // The same run asking again (its answer lost) gets its own block back.
    const Reservation retried = reserve("st-1", 4, Reserve::Reserved, "run-1");
    EXPECT_EQ(retried.first, base);
    EXPECT_FALSE(retried.again);
    EXPECT_EQ(assign(twin, "st-1", diagnostic), Assign::Assigned) << diagnostic;
    // A run that is over hands its block on at once; the taker learns whose it was.
    ASSERT_TRUE(db_->release("run-1", spent, diagnostic)) << diagnostic;
    const Reservation again = reserve("st-1", 4, Reserve::Reserved, "run-3");
    EXPECT_EQ(again.first, base);
    EXPECT_TRUE(again.again);
    EXPECT_EQ(again.holder, "run-1");
    EXPECT_EQ(db_->assign(first.id, "st-1", "192.168.1.1", "run-1", diagnostic), Assign::Refused);
    EXPECT_EQ(diagnostic, "cannot assign block 00:11:22:00:00:00: it is held by another run");
    // A lease that ran out: the block goes to the station's next run.
    const Reservation lapsed = reserve("st-2", 2, Reserve::Reserved, "run-4", 0);
    EXPECT_EQ(reserve("st-2", 2, Reserve::Reserved, "run-5").first, lapsed.first);
    // One of another size whose holder is gone is abandoned for good; a live one is left alone.
    ASSERT_TRUE(db_->release("run-5", spent, diagnostic)) << diagnostic;
    const Reservation bigger = reserve("st-2", 6, Reserve::Reserved, "run-6");
    EXPECT_EQ(bigger.first, base + 10);
    EXPECT_EQ(sql("SELECT id - 73584869376, station, state, holder FROM vornix_reservation ORDER BY id"),
              "0|st-1|open|run-3\n4|st-1|assigned|run-2\n8|st-2|abandoned|run-5\n10|st-2|open|run-6\n");
    // Assigning twice (an answer lost) is one assignment.
    for (int time = 0; time < 2; ++time)
        EXPECT_EQ(db_->assign(again.id, "st-1", "192.168.1.1", "run-3", diagnostic), Assign::Assigned) << diagnostic;
    EXPECT_EQ(sql("SELECT count(*) FROM vornix_assignment WHERE run_id = 'run-3'"), "4\n");

    std::vector<PoolStatus> pools;
    std::vector<OpenReservation> open;
    ASSERT_TRUE(db_->status(pools, open, diagnostic)) << diagnostic;
    ASSERT_EQ(open.size(), 1u);
    EXPECT_EQ(open[0].station + " " + formatMac(open[0].first) + " " + std::to_string(open[0].count),
              "st-2 00:11:22:00:00:0A 6");
    EXPECT_EQ(open[0].since.size(), 20u);
    EXPECT_EQ(pools.at(0).used, 16);
}

// A block written to a router goes to no other run: spent when its run is
// over, or when its run vanished and its lease ran out. One never written
// still goes back to the station's next run.
TEST_F(LineDatabaseTest, ABlockWrittenToARouterIsNeverHandedOutAgain) {
    ASSERT_NO_FATAL_FAILURE(startLine(24335, 0x100));
    std::string diagnostic;
    std::vector<Reservation> spent;
    const Reservation written = reserve("st-1", 4, Reserve::Reserved, "run-1");
    EXPECT_EQ(db_->markWriting(written.id, "run-9", diagnostic), Assign::Refused) << "not run-9's block";
    for (int time = 0; time < 2; ++time)  // asked again after a lost answer
        EXPECT_EQ(db_->markWriting(written.id, "run-1", diagnostic), Assign::Assigned) << diagnostic;
    for (int time = 0; time < 2; ++time) {
        ASSERT_TRUE(db_->release("run-1", spent, diagnostic)) << diagnostic;
        ASSERT_EQ(spent.size(), 1u) << "time " << time;
        EXPECT_EQ(spent[0].first, written.first);
        EXPECT_EQ(spent[0].count, 4);
    }
    const Reservation unwritten = reserve("st-1", 4, Reserve::Reserved, "run-2");
    EXPECT_EQ(unwritten.first, base + 4);
    ASSERT_TRUE(db_->release("run-2", spent, diagnostic)) << diagnostic;
    EXPECT_TRUE(spent.empty());
    const Reservation again = reserve("st-1", 4, Reserve::Reserved, "run-3");
    EXPECT_TRUE(again.again);
    EXPECT_EQ(again.first, unwritten.first);
    // Its holder vanished while writing (no release): spent once the lease is over.
    const Reservation lapsed = reserve("st-2", 2, Reserve::Reserved, "run-4", 0);
    EXPECT_EQ(db_->markWriting(lapsed.id, "run-4", diagnostic), Assign::Assigned) << diagnostic;
    const Reservation after = reserve("st-2", 2, Reserve::Reserved, "run-5");
    EXPECT_FALSE(after.again);
    EXPECT_EQ(db_->assign(written.id, "st-1", "192.168.1.1", "run-1", diagnostic), Assign::Refused);
    EXPECT_EQ(sql("SELECT id - 73584869376, state, holder FROM vornix_reservation ORDER BY id"),
              "0|spent|run-1\n4|open|run-3\n8|spent|run-4\n10|open|run-5\n");
    // A spent address is looked up as the spending run's.
    std::optional<LineDatabase::Assignment> found;
    ASSERT_TRUE(db_->findAssignment(base + 2, found, diagnostic)) << diagnostic;
    ASSERT_TRUE(found.has_value());
    EXPECT_TRUE(found->spent);
    EXPECT_EQ(found->runId + " " + found->station + " " + formatMac(found->blockFirst), "run-1 st-1 00:11:22:00:00:00");
}

TEST_F(LineDatabaseTest, AnAssignmentThatCannotBeRecordedWhollyLeavesTheBlockOpen) {
    ASSERT_NO_FATAL_FAILURE(startLine(24325, 0x100));
    std::string diagnostic;
    const Reservation block = reserve("st-1", 4);
    const Reservation other = reserve("st-2", 2);
    // An address of the block already on a router (recorded by hand, or by
    // a pool that was moved): the database refuses the whole assignment.
    sql("INSERT INTO vornix_assignment VALUES (" + std::to_string(base + 2) + ", " + std::to_string(other.id) +
        ", 'st-2', '10.0.0.9', 'old-run', '2024-01-01T00:00:00Z')");
    const std::string before = tables();
    EXPECT_EQ(assign(block, "st-1", diagnostic), Assign::Failed);
    EXPECT_EQ(diagnostic.rfind("cannot assign block 00:11:22:00:00:00: address 00:11:22:00:00:02: execute: 23505 ", 0),
              0u)
        << diagnostic;
    EXPECT_EQ(tables(), before) << "no address of the block is recorded and it stays open";
    sql("DELETE FROM vornix_assignment WHERE run_id = 'old-run'");
    ASSERT_EQ(assign(block, "st-1", diagnostic), Assign::Assigned) << diagnostic;

    const struct {
        long long id;
        std::string station, router, run, diagnostic;
    } refused[] = {
        {block.id, "st-1", "192.168.1.1", "run-9", "cannot assign block 00:11:22:00:00:00: it is held by another run"},
        {other.id, "st-1", "192.168.1.1", "run-9",
         "cannot assign block 00:11:22:00:00:04: it is reserved by station st-2"},
        {base + 99, "st-1", "192.168.1.1", "run-9", "cannot assign block 00:11:22:00:00:63: no such reservation"},
        {other.id, "st-2", "", "run-9", "cannot assign block 00:11:22:00:00:04: the router address is empty"},
        {other.id, "st-2", "192.168.1.1", std::string(128, 'r'),
         "cannot assign block 00:11:22:00:00:04: the run id is longer than 127 bytes"},
    };
    for (const auto& c : refused) {
        const std::string state = tables();
        EXPECT_EQ(db_->assign(c.id, c.station, c.router, c.run, diagnostic), Assign::Refused) << c.diagnostic;
        EXPECT_EQ(diagnostic, c.diagnostic);
        EXPECT_EQ(tables(), state) << c.diagnostic;
    }
    EXPECT_EQ(sql("SELECT count(*) FROM vornix_assignment"), "4\n");
}

TEST_F(LineDatabaseTest, AStoppedServerFailsEveryCallAndChangesNothing) {
    ASSERT_NO_FATAL_FAILURE(startLine(24326, 0x100));
    std::string diagnostic;
    const Reservation block = reserve("st-1", 4);
    const std::string before = tables();
    ASSERT_TRUE(server_->stop());

    const std::string password = test::PostgresServer::password;
    Reservation none;
    std::vector<std::string> diagnostics(7);
    std::vector<PoolStatus> pools;
    std::vector<OpenReservation> open;
    EXPECT_EQ(db_->reserve("line-a", "st-2", 4, "run-2", 3600, none, diagnostics[0]), Reserve::Failed);
    EXPECT_EQ(assign(block, "st-1", diagnostics[1]), Assign::Failed);
    EXPECT_FALSE(db_->recordRun("run-1", "st-1", "{}", diagnostics[2]));
    EXPECT_EQ(db_->addPool("line-b", "00:11:22:00:01:00", "00:11:22:00:01:FF", diagnostics[3]), Add::Failed);
    EXPECT_FALSE(db_->status(pools, open, diagnostics[4]));
    EXPECT_FALSE(db_->createTables(diagnostics[5]));
    EXPECT_FALSE(LineDatabase::open(server_->connectionString(), 10, diagnostics[6]));
    for (const std::string& d : diagnostics) {
        EXPECT_FALSE(d.empty());
        EXPECT_EQ(d.find('\n'), std::string::npos) << d;
        EXPECT_EQ(d.find(password), std::string::npos) << d;
    }
    EXPECT_EQ(diagnostics[0].rfind("cannot reserve 4 addresses in pool line-a: ", 0), 0u) << diagnostics[0];
    EXPECT_EQ(diagnostics[6].rfind("cannot connect to \"Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=24326;"
                                   "Database=vornix_line;Uid=vornix_line;Pwd=***;\": 08001 ",
                                   0),
              0u)
        << diagnostics[6];

    ASSERT_TRUE(server_->start());
    EXPECT_EQ(tables(), before);
    // A new connection carries on where the old one stopped.
    db_ = connect();
    ASSERT_TRUE(db_);
    ASSERT_EQ(assign(block, "st-1", diagnostic), Assign::Assigned) << diagnostic;
}

// A server that stops answering right after a run's last call: letting go
// of the connection must not hold the run (the driver talks to the server as
// it closes), and the next call fails at once.
TEST_F(LineDatabaseTest, AServerStoppedAfterTheLastCallNeverHoldsTheRunsEnd) {
    ASSERT_NO_FATAL_FAILURE(startLine(24391, 0x100));
    using Clock = std::chrono::steady_clock;
    Clock::time_point letGo;
    {
        const std::unique_ptr<LineRecordKeeper> keeper = lineRecordKeeper(server_->connectionString(), "st-1", 2);
        ASSERT_EQ(keeper->keep("run-1", "{}"), "");
        ASSERT_TRUE(server_->signalAll(SIGSTOP));
        letGo = Clock::now();
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - letGo).count();
    const std::unique_ptr<LineRecordKeeper> next = lineRecordKeeper(server_->connectionString(), "st-1", 2);
    EXPECT_EQ(next->keep("run-2", "{}"), "Can't reach the line database: no answer within 2 s");
    server_->signalAll(SIGCONT);
    EXPECT_LT(seconds, 2 + 2) << "let go within the timeout";
}

TEST_F(LineDatabaseTest, PasswordsNeverReachADiagnostic) {
    ASSERT_NO_FATAL_FAILURE(startServer(24327));
    const std::string good = test::PostgresServer::password;
    const std::string port = std::to_string(server_->port());
    const struct {
        std::string connection, secret, start, state;
    } cases[] = {
        {"Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=" + port + ";Database=vornix_line;Uid=vornix_line;"
         "Pwd=Wrong-Pw.1;",
         "Wrong-Pw.1", "Pwd=***;", "08001"},
        {"DRIVER={PostgreSQL Unicode};SERVER=127.0.0.1;PORT=" + port + ";DATABASE=vornix_line;UID=vornix_line;"
         "PASSWORD={Wr;ong}",
         "Wr;ong", "PASSWORD=***", "08001"},
        {"Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=" + port + ";Database=vornix_line;Uid=nobody;pWd=" + good,
         good, "pWd=***", "08001"},
        {"Driver={No Such Driver};Server=127.0.0.1;pwd=" + good + ";", good, "pwd=***;", "01000"},
    };
    for (const auto& c : cases) {
        std::string diagnostic;
        EXPECT_FALSE(LineDatabase::open(c.connection, 10, diagnostic)) << c.connection;
        EXPECT_EQ(diagnostic.find(c.secret), std::string::npos) << diagnostic;
        EXPECT_NE(diagnostic.find(c.start), std::string::npos) << diagnostic;
        EXPECT_NE(diagnostic.find("\": " + c.state + " "), std::string::npos) << diagnostic;
        EXPECT_EQ(diagnostic.find('\n'), std::string::npos) << diagnostic;
    }
}

// ---------------------------------------------------------------- stations at once

// What one station did: its blocks and whether it assigned each.
struct Block {
    long long first;
    int count;
    bool assigned;
};
struct StationRun {
    std::vector<Block> blocks;
    int exhausted = 0, handedBack = 0;
    std::string failure;
};

// A station's working day: a block of 1 to 3 addresses for each router,
// assigned once written. Every tenth run is killed after reserving, so the
// next run must get the same block back; the day's last run is killed too.
StationRun stationDay(const std::string& connection, const std::string& station, int routers) {
    StationRun run;
    std::string diagnostic;
    auto db = LineDatabase::open(connection, 10, diagnostic);
    if (!db) {
        run.failure = diagnostic;
        return run;
    }
    int held = -1;  // the block a killed run left open
    for (int i = 0; i < routers && run.failure.empty(); ++i) {
        const int count = held >= 0 ? run.blocks[held].count : 1 + (i * 7 + station.back()) % 3;
        Reservation reservation;
        const std::string holder = station + "-" + std::to_string(i);
        const Reserve result = db->reserve("line-a", station, count, holder, 3600, reservation, diagnostic);
        if (result == Reserve::Exhausted && held < 0) {
            ++run.exhausted;
            continue;
        }
        if (result != Reserve::Reserved) {
            run.failure = "router " + std::to_string(i) + ": " + diagnostic;
            break;
        }
        if (held >= 0) {
            if (!reservation.again || reservation.first != run.blocks[held].first)
                run.failure = "router " + std::to_string(i) + ": the open block did not come back";
            ++run.handedBack;
        } else {
            if (reservation.again) run.failure = "router " + std::to_string(i) + ": a block came back unasked";
            run.blocks.push_back({reservation.first, reservation.count, false});
            held = static_cast<int>(run.blocks.size()) - 1;
        }
        if (i % 10 == 9 || i == routers - 1) {
            // Killed before the assignment; the station's next start releases the block.
            std::vector<Reservation> spent;
            if (!db->release(holder, spent, diagnostic)) run.failure = diagnostic;
            continue;
        }
        if (db->assign(reservation.id, station, "192.168.1.1", holder, diagnostic) != Assign::Assigned)
            run.failure = "router " + std::to_string(i) + ": " + diagnostic;
        run.blocks[held].assigned = true;
        held = -1;
    }
    return run;
}

class LineStationsTest : public LineDatabaseTest {
protected:
    static constexpr int stations = 4, routers = 50;
    static constexpr long long poolSize = 300;  // less than they ask for: some find it exhausted

    // No address twice, none outside the pool, every handed-out address on
    // a router or in an open block, and the tables agree.
    void checkDay(const std::vector<StationRun>& runs) {
        std::vector<Block> all;
        int exhausted = 0, handedBack = 0, openBlocks = 0;
        long long assigned = 0, open = 0;
        for (const StationRun& run : runs) {
            EXPECT_EQ(run.failure, "");
            exhausted += run.exhausted;
            handedBack += run.handedBack;
            for (const Block& b : run.blocks) {
                all.push_back(b);
                (b.assigned ? assigned : open) += b.count;
                openBlocks += !b.assigned;
            }
        }
        std::sort(all.begin(), all.end(), [](const Block& a, const Block& b) { return a.first < b.first; });
        long long next = base;
        for (const Block& b : all) {
            ASSERT_EQ(b.first, next) << "blocks overlap or leave a gap at " << formatMac(b.first);
            next += b.count;
        }
        EXPECT_LE(next, base + poolSize);
        EXPECT_GT(exhausted, 0) << "the pool never ran out: the test proves less than it should";
        EXPECT_GT(handedBack, 0);
        EXPECT_EQ(sql("SELECT next_mac - first_mac FROM vornix_pool"), std::to_string(next - base) + "\n");
        EXPECT_EQ(sql("SELECT count(*), min(mac) >= 73584869376, max(mac) < " + std::to_string(base + poolSize) +
                      " FROM vornix_assignment"),
                  std::to_string(assigned) + "|t|t\n");
        EXPECT_EQ(sql("SELECT coalesce(sum(mac_count), 0), count(*) FROM vornix_reservation WHERE state = 'open'"),
                  std::to_string(open) + "|" + std::to_string(openBlocks) + "\n");
        EXPECT_EQ(sql("SELECT count(*) FROM vornix_reservation WHERE state = 'abandoned'"), "0\n");
        std::string diagnostic;
        std::vector<PoolStatus> pools;
        std::vector<OpenReservation> reservations;
        ASSERT_TRUE(db_->status(pools, reservations, diagnostic)) << diagnostic;
        EXPECT_EQ(pools.at(0).used, assigned + open);
        EXPECT_EQ(pools.at(0).free, poolSize - assigned - open);
        std::printf("[ line     ] %zu blocks, %lld addresses assigned, %lld open, %d handed back, %d times exhausted\n",
                    all.size(), assigned, open, handedBack, exhausted);
    }
};

TEST_F(LineStationsTest, StationsInThreadsNeverShareAnAddress) {
    ASSERT_NO_FATAL_FAILURE(startLine(24328, poolSize));
    std::vector<StationRun> runs(stations);
    std::vector<std::thread> threads;
    for (int s = 0; s < stations; ++s)
        threads.emplace_back([&, s] { runs[s] = stationDay(server_->connectionString(), "st-" + std::to_string(s), routers); });
    for (auto& t : threads) t.join();
    checkDay(runs);
}

TEST_F(LineStationsTest, StationsInProcessesNeverShareAnAddress) {
    ASSERT_NO_FATAL_FAILURE(startLine(24329, poolSize));
    db_.reset();  // no connection of ours in the children
    test::TempDir dir;
    std::vector<pid_t> children;
    for (int s = 0; s < stations; ++s) {
        const pid_t pid = fork();
        if (pid == 0) {
            const StationRun run = stationDay(server_->connectionString(), "st-" + std::to_string(s), routers);
            std::ofstream out(dir.file("station-" + std::to_string(s)));
            out << run.exhausted << " " << run.handedBack << "\n" << run.failure << "\n";
            for (const Block& b : run.blocks) out << b.first << " " << b.count << " " << b.assigned << "\n";
            out.close();
            _exit(out ? 0 : 1);
        }
        ASSERT_GT(pid, 0);
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    std::vector<StationRun> runs(stations);
    for (int s = 0; s < stations; ++s) {
        std::istringstream in(test::readAll(dir.file("station-" + std::to_string(s))));
        in >> runs[s].exhausted >> runs[s].handedBack;
        in.ignore();
        std::getline(in, runs[s].failure);
        for (Block b{}; in >> b.first >> b.count >> b.assigned;) runs[s].blocks.push_back(b);
    }
    db_ = connect();
    ASSERT_TRUE(db_);
    checkDay(runs);
}

// ---------------------------------------------------------------- the set-up commands

bool plainReplace(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    return true;
}

struct Output {
    int status;
    std::string out, err;
};

Output runCommand(const std::vector<std::string>& args, Profile& profile) {
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    const int status = lineCommand(args, profile, out, err);
    auto text = [](std::FILE* f) {
        std::string all;
        std::rewind(f);
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) all.append(buffer, n);
        std::fclose(f);
        return all;
    };
    return {status, text(out), text(err)};
}

// The since column differs from run to run.
std::string withoutTimes(const std::string& text) {
    static const std::regex time("[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z");
    return std::regex_replace(text, time, "<time>");
}

class LineCommandsTest : public LineDatabaseTest {
protected:
    test::TempDir dir;
    IniProfile profile{dir.file("setup.ini"), &plainReplace};
    void setup(const std::string& line) { dir.write("setup.ini", "[LINE]\r\n" + line + "\r\n"); }
};

TEST_F(LineCommandsTest, InitAddAndStatusSayWhatTheyDid) {
    ASSERT_NO_FATAL_FAILURE(startServer(24330));
    setup("Database=" + server_->connectionString() + "\r\nPool=line-a\r\nStation=st-9");
    const std::string ready = "line database ready: vornix_pool, vornix_reservation, vornix_assignment, vornix_run, "
                              "vornix_lock, vornix_unit\n";
    for (int i = 0; i < 2; ++i) {
        const Output init = runCommand({"--line-init"}, profile);
        EXPECT_EQ(init.status, 0);
        EXPECT_EQ(init.out, ready);
        EXPECT_EQ(init.err, "");
    }
    Output status = runCommand({"--pool-status"}, profile);
    EXPECT_EQ(status.status, 0);
    EXPECT_EQ(status.out, "Pools:\n  (none)\nOpen reservations:\n  (none)\n");

    Output add = runCommand({"--pool-add", "line-a", "00:11:22:00:00:00", "00:11:22:00:0f:ff"}, profile);
    EXPECT_EQ(add.status, 0);
    EXPECT_EQ(add.out, "pool line-a added: 00:11:22:00:00:00 - 00:11:22:00:0F:FF, 4096 addresses\n");
    EXPECT_EQ(add.err, "");
    // Asked again as it is (its first answer lost): done; with another range: refused.
    add = runCommand({"--pool-add", "line-a", "00:11:22:00:00:00", "00:11:22:00:0F:FF"}, profile);
    EXPECT_EQ(add.status, 0) << add.err;
    EXPECT_EQ(add.out, "pool line-a is already there: 00:11:22:00:00:00 - 00:11:22:00:0F:FF, 4096 addresses\n");
    EXPECT_EQ(add.err, "");
    add = runCommand({"--pool-add", "line-a", "00:11:22:00:00:00", "00:11:22:00:10:ff"}, profile);
    EXPECT_EQ(add.status, 1);
    EXPECT_EQ(add.out, "");
    EXPECT_EQ(add.err,
              "vornix-cli: pool line-a already exists with another range: 00:11:22:00:00:00 - 00:11:22:00:0F:FF\n");
    add = runCommand({"--pool-add", "spare", "00:11:22:00:0F:00", "00:11:22:00:10:ff"}, profile);
    EXPECT_EQ(add.status, 1);
    EXPECT_EQ(add.err,
              "vornix-cli: the range 00:11:22:00:0F:00 - 00:11:22:00:10:FF overlaps pool line-a "
              "(00:11:22:00:00:00 - 00:11:22:00:0F:FF)\n");
    ASSERT_EQ(runCommand({"--pool-add", "spare", "00:11:22:00:10:00", "00:11:22:00:10:09"}, profile).status, 0);

    db_ = connect();
    ASSERT_TRUE(db_);
    reserve("st-9", 3);
    reserve("station-10", 1);
    status = runCommand({"--pool-status"}, profile);
    EXPECT_EQ(status.status, 0);
    EXPECT_EQ(withoutTimes(status.out),
              "Pools:\n"
              "  pool    range                                  used  free\n"
              "  line-a  00:11:22:00:00:00 - 00:11:22:00:0F:FF     4  4092\n"
              "  spare   00:11:22:00:10:00 - 00:11:22:00:10:09     0    10\n"
              "Open reservations:\n"
              "  station     pool    first              count  since\n"
              "  st-9        line-a  00:11:22:00:00:00      3  <time>\n"
              "  station-10  line-a  00:11:22:00:00:03      1  <time>\n");
    EXPECT_EQ(status.err, "");
}

TEST_F(LineCommandsTest, BadArgumentsAreUsageErrorsBeforeAnyConnection) {
    // No setup.ini and no server: these never get as far as either.
    const struct {
        std::vector<std::string> args;
        const char* err;
    } cases[] = {
        {{}, "vornix-cli: unknown line command: \n"},
        {{"--pool-remove", "x"}, "vornix-cli: unknown line command: --pool-remove\n"},
        {{"--line-init", "now"}, "vornix-cli: usage: vornix-cli --line-init (no arguments)\n"},
        {{"--pool-status", "all"}, "vornix-cli: usage: vornix-cli --pool-status (no arguments)\n"},
        {{"--pool-add"}, "vornix-cli: usage: vornix-cli --pool-add NAME FIRST LAST\n"},
        {{"--pool-add", "a", "00:11:22:00:00:00"}, "vornix-cli: usage: vornix-cli --pool-add NAME FIRST LAST\n"},
        {{"--pool-add", "a", "00:11:22:00:00:00", "00:11:23:00:00:00"},
         "vornix-cli: --pool-add: the range 00:11:22:00:00:00 - 00:11:23:00:00:00 leaves its 24-bit block: the first "
         "three octets must be equal\n"},
    };
    for (const auto& c : cases) {
        const Output output = runCommand(c.args, profile);
        EXPECT_EQ(output.status, 2) << c.err;
        EXPECT_EQ(output.out, "") << c.err;
        EXPECT_EQ(output.err, c.err);
    }
}

TEST_F(LineCommandsTest, FailuresSayWhyOnOneLineWithThePasswordMasked) {
    const Output unset = runCommand({"--line-init"}, profile);
    EXPECT_EQ(unset.status, 1);
    EXPECT_EQ(unset.err,
              "vornix-cli: [LINE] Database is not set in setup.ini: it holds the line database's ODBC connection "
              "string\n");
    setup("Database=");
    EXPECT_EQ(runCommand({"--pool-status"}, profile).err, unset.err);

    // Nothing listens on this port.
    setup("Database=Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=24331;Database=x;Uid=u;PASSWORD=Blue-Fox.22;");
    const Output down = runCommand({"--pool-status"}, profile);
    EXPECT_EQ(down.status, 1);
    EXPECT_EQ(down.out, "");
    EXPECT_EQ(down.err.rfind("vornix-cli: cannot connect to \"Driver={PostgreSQL Unicode};Server=127.0.0.1;"
                             "Port=24331;Database=x;Uid=u;PASSWORD=***;\": 08001 ",
                             0),
              0u)
        << down.err;
    EXPECT_EQ(down.err.find("Blue-Fox.22"), std::string::npos) << down.err;
    EXPECT_EQ(std::count(down.err.begin(), down.err.end(), '\n'), 1) << down.err;

    // A database without the tables: --line-init was forgotten.
    ASSERT_NO_FATAL_FAILURE(startServer(24332));
    setup("Database=" + server_->connectionString());
    const Output bare = runCommand({"--pool-status"}, profile);
    EXPECT_EQ(bare.status, 1);
    EXPECT_EQ(bare.err.rfind("vornix-cli: cannot read the pools: execute: 42P01 ", 0), 0u) << bare.err;
    EXPECT_EQ(std::count(bare.err.begin(), bare.err.end(), '\n'), 1) << bare.err;
}

}  // namespace
}  // namespace vornix
