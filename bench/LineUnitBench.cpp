// Units in the line database, against a local PostgreSQL server with its
// flushes to disk: a unit looked up among 1,000,000 (by its serial, by one
// of its addresses, and its runs), and 1 and 16 stations reserving at once
// without serials, with a new serial each call, and with a unit's serial
// again (its own block). Prints tables; any failed call fails the run.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "records/LineDatabase.h"
#include "support/PostgresServer.h"

namespace {

using Clock = std::chrono::steady_clock;
using vornix::LineDatabase;
constexpr int port = 24338;
constexpr long long units = 1000000;
constexpr int lookups = 2000;
constexpr int calls = 2000;  // reservations per row and kind
const long long lookupBase = 0x002000000000LL;   // the million units' pool: 00:20:00:00:00:00
const long long reserveBase = 0x002100000000LL;  // the reservations' pool

struct Timing {
    double perSecond = 0, medianMs = 0, p99Ms = 0;
    int failed = 0;
    std::string firstFailure;
};

// call(db, thread, i, diagnostic) `total` times over `threads` threads, each
// with a connection of its own that starts with the others.
Timing measure(const std::string& connection, int threads, int total,
               const std::function<bool(LineDatabase&, int, int, std::string&)>& call) {
    std::vector<std::unique_ptr<LineDatabase>> stations;
    for (int t = 0; t < threads; ++t) {
        std::string d;
        stations.push_back(LineDatabase::open(connection, 10, d));
    }
    std::vector<std::vector<double>> latencies(threads);
    std::vector<std::string> failures(threads);
    std::vector<int> failed(threads, 0);
    std::atomic<int> waiting{threads};
    Clock::time_point started;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&, t] {
            if (--waiting == 0) started = Clock::now();
            while (waiting > 0) std::this_thread::yield();
            for (int i = 0; i < total / threads; ++i) {
                std::string diagnostic;
                const auto before = Clock::now();
                const bool ok = stations[t] && call(*stations[t], t, i, diagnostic);
                latencies[t].push_back(std::chrono::duration<double, std::milli>(Clock::now() - before).count());
                if (!ok && failed[t]++ == 0) failures[t] = stations[t] ? diagnostic : "no connection";
            }
        });
    for (auto& w : workers) w.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    std::vector<double> all;
    Timing timing;
    for (int t = 0; t < threads; ++t) {
        all.insert(all.end(), latencies[t].begin(), latencies[t].end());
        timing.failed += failed[t];
        if (timing.firstFailure.empty()) timing.firstFailure = failures[t];
    }
    std::sort(all.begin(), all.end());
    timing.perSecond = static_cast<double>(all.size()) / seconds;
    timing.medianMs = all[all.size() / 2];
    timing.p99Ms = all[std::min(all.size() - 1, all.size() * 99 / 100)];
    return timing;
}

std::string unitSerial(long long n) {
    char text[16];
    std::snprintf(text, sizeof text, "BU%07lld", n);
    return text;
}

// False (and a FAILED line) when any call failed.
bool report(const Timing& t) {
    if (!t.failed) return true;
    std::printf("  %d calls FAILED, the first: %s\n", t.failed, t.firstFailure.c_str());
    return false;
}

int lookUps(vornix::test::PostgresServer& server) {
    // A million units of 4 addresses, each with one run, as stations would
    // have left them; made by the server itself.
    bool ok = true;
    const std::string first = std::to_string(lookupBase);
    server.sql("INSERT INTO vornix_unit (serial, pool, first_mac, mac_count, bound_at, run_id)"
               " SELECT 'BU' || lpad(g::text, 7, '0'), 'bench-units', " + first + " + 4 * g, 4,"
               " '2026-01-01T00:00:00Z', 'bench ' || g FROM generate_series(0, " + std::to_string(units - 1) + ") g",
               &ok);
    if (ok)
        server.sql("INSERT INTO vornix_run (run_id, station, recorded_at, record_text, serial)"
                   " SELECT 'bench ' || g, 'bench', '2026-01-01T00:00:00Z', '{\"run\":\"bench ' || g || '\"}',"
                   " 'BU' || lpad(g::text, 7, '0') FROM generate_series(0, " + std::to_string(units - 1) + ") g",
                   &ok);
    if (ok) server.sql("ANALYZE", &ok);
    if (!ok || server.sql("SELECT COUNT(*) FROM vornix_unit") != std::to_string(units) + "\n") {
        std::printf("the million units could not be made: FAILED\n");
        return 1;
    }
    std::printf("\nunit look-up among %lld units (and as many runs), one connection, %d look-ups each:\n", units,
                lookups);
    std::printf("%-26s | %9s %10s %10s\n", "look-up", "per s", "median ms", "p99 ms");
    std::mt19937 random(7);
    std::vector<long long> picks(lookups);
    for (long long& p : picks) p = static_cast<long long>(random() % units);
    int status = 0;
    const struct {
        const char* name;
        std::function<bool(LineDatabase&, long long, std::string&)> ask;
    } kinds[] = {
        {"by serial",
         [](LineDatabase& db, long long n, std::string& d) {
             std::optional<vornix::LineUnit> unit;
             return db.findUnit(unitSerial(n), unit, d) && unit && unit->first == lookupBase + 4 * n;
         }},
        {"by an address of its block",
         [](LineDatabase& db, long long n, std::string& d) {
             std::optional<vornix::LineUnit> unit;
             return db.findUnitHolding(lookupBase + 4 * n + 3, unit, d) && unit && unit->serial == unitSerial(n);
         }},
        {"its runs, by serial",
         [](LineDatabase& db, long long n, std::string& d) {
             std::vector<LineDatabase::StoredRun> runs;
             return db.readUnitRuns(unitSerial(n), runs, d) && runs.size() == 1;
         }},
    };
    for (const auto& kind : kinds) {
        const Timing t = measure(server.connectionString(), 1, lookups, [&](LineDatabase& db, int, int i, std::string& d) {
            if (kind.ask(db, picks[static_cast<std::size_t>(i)], d)) return true;
            if (d.empty()) d = "a wrong answer for unit " + unitSerial(picks[static_cast<std::size_t>(i)]);
            return false;
        });
        std::printf("%-26s | %9.0f %10.2f %10.2f\n", kind.name, t.perSecond, t.medianMs, t.p99Ms);
        if (!report(t)) status = 1;
    }
    return status;
}

int reservations(vornix::test::PostgresServer& server) {
    const std::string connection = server.connectionString();
    // Units that already have their blocks, for the rows that write a unit again.
    {
        std::string d;
        auto db = LineDatabase::open(connection, 10, d);
        for (int u = 0; db && u < 2 * calls; ++u) {
            vornix::Reservation r;
            std::vector<vornix::Reservation> spent;
            const std::string run = "bind-" + std::to_string(u);
            if (db->reserve("bench-reserve", "binder", 4, run, 3600, r, d, "AG" + std::to_string(u)) !=
                    LineDatabase::ReserveResult::Reserved ||
                !db->release(run, spent, d)) {
                std::printf("binding the units to write again FAILED: %s\n", d.c_str());
                return 1;
            }
        }
    }
    const long long boundNext = std::stoll(server.sql("SELECT next_mac FROM vornix_pool WHERE name = 'bench-reserve'"));
    std::printf("\nreservations, each station a thread with its own connection, %d calls a cell:\n", calls);
    std::printf("%-9s | %-31s | %-31s | %-31s\n", "", "without serial (new block)", "new serial (new block + unit)",
                "a unit's serial again (its block)");
    std::printf("%-9s | %9s %10s %10s | %9s %10s %10s | %9s %10s %10s\n", "stations", "per s", "median ms", "p99 ms",
                "per s", "median ms", "p99 ms", "per s", "median ms", "p99 ms");
    int status = 0, round = 0;
    long long newBlocks = 0;
    for (int stations : {1, 16}) {
        ++round;
        // A station (holder) name per call: no open block to hand back.
        auto name = [&](const char* kind, int t, int i) {
            return std::string(kind) + std::to_string(stations) + "-" + std::to_string(t) + "-" + std::to_string(i);
        };
        const int each = calls / stations;
        const Timing plain = measure(connection, stations, calls, [&](LineDatabase& db, int t, int i, std::string& d) {
            vornix::Reservation r;
            const std::string station = name("p", t, i);
            return db.reserve("bench-reserve", station, 4, station, 3600, r, d) ==
                   LineDatabase::ReserveResult::Reserved;
        });
        const Timing fresh = measure(connection, stations, calls, [&](LineDatabase& db, int t, int i, std::string& d) {
            vornix::Reservation r;
            const std::string station = name("n", t, i);
            return db.reserve("bench-reserve", station, 4, station, 3600, r, d, station) ==
                   LineDatabase::ReserveResult::Reserved;
        });
        // Each call a unit of its own among the bound ones: none is busy.
        const Timing again = measure(connection, stations, calls, [&](LineDatabase& db, int t, int i, std::string& d) {
            vornix::Reservation r;
            const int unit = (round - 1) * calls + t * each + i;
            const bool ok = db.reserve("bench-reserve", name("a", t, i), 4, name("a", t, i), 3600, r, d,
                                       "AG" + std::to_string(unit)) == LineDatabase::ReserveResult::Reserved;
            if (ok && !r.unitsOwn) d = "unit AG" + std::to_string(unit) + " got a new block";
            return ok && r.unitsOwn;
        });
        newBlocks += 2LL * calls;
        std::printf("%-9d | %9.0f %10.2f %10.2f | %9.0f %10.2f %10.2f | %9.0f %10.2f %10.2f\n", stations,
                    plain.perSecond, plain.medianMs, plain.p99Ms, fresh.perSecond, fresh.medianMs, fresh.p99Ms,
                    again.perSecond, again.medianMs, again.p99Ms);
        for (const Timing* t : {&plain, &fresh, &again})
            if (!report(*t)) status = 1;
    }
    // New blocks moved the pool, a unit's block again did not; one unit each.
    const long long moved =
        std::stoll(server.sql("SELECT next_mac FROM vornix_pool WHERE name = 'bench-reserve'")) - boundNext;
    const long long bound = std::stoll(server.sql("SELECT COUNT(*) FROM vornix_unit WHERE pool = 'bench-reserve'"));
    const bool adds = moved == newBlocks * 4 && bound == 2LL * calls + 2LL * calls;
    std::printf("pool moved by %lld addresses (%lld new blocks), %lld units bound: %s\n", moved, newBlocks, bound,
                adds ? "consistent" : "INCONSISTENT");
    return adds ? status : 1;
}

}  // namespace

int main() {
    vornix::test::PostgresServer server(port, true);
    if (!server.ready()) {
        std::fprintf(stderr, "cannot start PostgreSQL on 127.0.0.1:%d: %s\n", port, server.failure().c_str());
        return 1;
    }
    std::string diagnostic;
    {
        auto db = LineDatabase::open(server.connectionString(), 10, diagnostic);
        if (!db || !db->createTables(diagnostic) ||
            db->addPool("bench-units", vornix::formatMac(lookupBase), vornix::formatMac(lookupBase + 0xFFFFFF),
                        diagnostic) != LineDatabase::AddResult::Added ||
            db->addPool("bench-reserve", vornix::formatMac(reserveBase), vornix::formatMac(reserveBase + 0xFFFFFF),
                        diagnostic) != LineDatabase::AddResult::Added) {
            std::fprintf(stderr, "set-up failed: %s\n", diagnostic.c_str());
            return 1;
        }
    }
    std::string version = server.sql("SHOW server_version");
    version = version.substr(0, version.find_first_of(" \n"));
    std::printf("PostgreSQL %s on 127.0.0.1 with fsync on, psqlODBC through unixODBC; 4 addresses a block\n",
                version.c_str());
    const int found = lookUps(server);
    const int reserved = reservations(server);
    return found || reserved;
}
