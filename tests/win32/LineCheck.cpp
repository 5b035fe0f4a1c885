// The line database from the Windows build: odbc32 with the wide entry
// points, run under Wine against a native PostgreSQL server. Sets up the
// tables and a pool, reserves and assigns a block and prints what happened,
// one line per step, for line_under_wine.sh to compare.
// Usage: line_check.exe CONNECTION_STRING STATION
#include <cstdio>
#include <string>
#include <vector>

#include "records/LineDatabase.h"

namespace {

int fail(const char* step, const std::string& diagnostic) {
    std::printf("%s failed: %s\n", step, diagnostic.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: line_check CONNECTION_STRING STATION\n", stderr);
        return 2;
    }
    const std::string connection = argv[1], station = argv[2];
    // Not ASCII, so the name crosses odbc32 as UTF-16 and comes back.
    const std::string pool = "Linie-S\xC3\xBC" "d";
    std::string diagnostic;
    auto db = vornix::LineDatabase::open(connection, 10, diagnostic);
    if (!db) return fail("open", diagnostic);
    std::printf("connected\n");
    if (!db->createTables(diagnostic) || !db->createTables(diagnostic)) return fail("createTables", diagnostic);
    std::printf("tables ready\n");
    if (db->addPool(pool, "00:11:22:33:00:00", "00:11:22:33:00:FF", diagnostic) != vornix::LineDatabase::AddResult::Added)
        return fail("addPool", diagnostic);
    std::printf("pool %s added\n", pool.c_str());

    vornix::Reservation block, again;
    if (db->reserve(pool, station, 4, "wine-run-1", 3600, block, diagnostic) != vornix::LineDatabase::ReserveResult::Reserved)
        return fail("reserve", diagnostic);
    std::printf("reserved %s, %d addresses\n", vornix::formatMac(block.first).c_str(), block.count);
    if (db->reserve(pool, station, 4, "wine-run-1", 3600, again, diagnostic) !=
        vornix::LineDatabase::ReserveResult::Reserved)
        return fail("reserve again", diagnostic);
    std::printf("reserved again %s%s\n", vornix::formatMac(again.first).c_str(),
                !again.again && again.id == block.id ? ", the run's own block" : ", ANOTHER BLOCK");
    if (db->assign(block.id, station, "192.168.1.1", "wine-run-1", diagnostic) !=
        vornix::LineDatabase::AssignResult::Assigned)
        return fail("assign", diagnostic);
    std::printf("assigned to 192.168.1.1\n");
    if (db->assign(block.id, station, "192.168.1.1", "wine-run-2", diagnostic) !=
        vornix::LineDatabase::AssignResult::Refused)
        return fail("second assign", "it was not refused");
    std::printf("second assign refused: %s\n", diagnostic.c_str());
    if (!db->recordRun("wine-run-1", station, "{\"pool\": \"" + pool + "\"}", diagnostic))
        return fail("recordRun", diagnostic);
    std::printf("run recorded\n");

    std::vector<vornix::PoolStatus> pools;
    std::vector<vornix::OpenReservation> open;
    if (!db->status(pools, open, diagnostic)) return fail("status", diagnostic);
    for (const auto& p : pools)
        std::printf("pool %s: %s - %s, %lld used, %lld free\n", p.name.c_str(), vornix::formatMac(p.first).c_str(),
                    vornix::formatMac(p.last).c_str(), p.used, p.free);
    std::printf("%zu open\n", open.size());

    // A wrong password: refused, and masked in what is said.
    const std::string wrong = connection.substr(0, connection.rfind("Pwd=")) + "Pwd=Wrong-Wine-7;";
    if (vornix::LineDatabase::open(wrong, 10, diagnostic)) return fail("open with a wrong password", "it succeeded");
    const bool masked = diagnostic.find("Wrong-Wine-7") == std::string::npos &&
                        diagnostic.find("Pwd=***;\": 08001 ") != std::string::npos;
    std::printf("wrong password refused, %s\n", masked ? "masked" : ("NOT MASKED: " + diagnostic).c_str());
    return 0;
}
