// The line database under 1, 4 and 16 stations at once, each a thread with
// its own connection, against a local PostgreSQL server with its flushes to
// disk: reservations per second and their latency, next to the same count of
// plain single-row UPDATEs of one shared row (the floor a block's UPDATE of
// the pool row cannot beat). Prints a table; any failed call fails the run.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "records/LineClient.h"
#include "records/LineDatabase.h"
#include "records/Odbc.h"
#include "support/PostgresServer.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int port = 24337;
constexpr int callsPerLevel = 2000;

struct Timing {
    double perSecond = 0, medianMs = 0, p99Ms = 0;
    int failed = 0;
    std::string firstFailure;
};

// Runs `call` callsPerLevel times spread over `threads` threads, each with
// the state `prepare` gives it; every call's time is kept.
template <typename State>
Timing measure(int threads, const std::function<std::unique_ptr<State>(int)>& prepare,
               const std::function<bool(State&, int, int, std::string&)>& call) {
    std::vector<std::unique_ptr<State>> states;
    for (int t = 0; t < threads; ++t) states.push_back(prepare(t));
    std::vector<std::vector<double>> latencies(threads);
    std::vector<std::string> failures(threads);
    std::vector<int> failed(threads, 0);
    std::atomic<int> waiting{threads};
    const int each = callsPerLevel / threads;
    Clock::time_point started;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&, t] {
            if (--waiting == 0) started = Clock::now();
            while (waiting > 0) std::this_thread::yield();
            for (int i = 0; i < each; ++i) {
                std::string diagnostic;
                const auto before = Clock::now();
                const bool ok = states[t] && call(*states[t], t, i, diagnostic);
                latencies[t].push_back(std::chrono::duration<double, std::milli>(Clock::now() - before).count());
                if (!ok && failed[t]++ == 0) failures[t] = states[t] ? diagnostic : "no connection";
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

// One table: the three station counts with the connection string's
// driver options, against a pool of their own (a whole 24-bit block of
// the given first three octets). 0 when every call succeeded and the
// pool's counts add up.
int table(const std::string& connection, const char* options, const std::string& pool, const std::string& octets) {
    std::string diagnostic;
    {
        auto db = vornix::LineDatabase::open(connection, 10, diagnostic);
        if (!db || db->addPool(pool, octets + ":00:00:00", octets + ":FF:FF:FF", diagnostic) !=
                       vornix::LineDatabase::AddResult::Added) {
            std::printf("pool set-up FAILED: %s\n", diagnostic.c_str());
            return 1;
        }
    }
    std::printf("\ndriver options: %s\n", *options ? options : "(none)");
    std::printf("%-9s | %-31s | %-31s | %s\n", "", "reserve (new block each call)", "floor: UPDATE one row + commit",
                "");
    std::printf("%-9s | %9s %10s %10s | %9s %10s %10s | %s\n", "stations", "per s", "median ms", "p99 ms", "per s",
                "median ms", "p99 ms", "median x floor");
    long long reserved = 0;
    int status = 0;
    for (int stations : {1, 4, 16}) {
        // A station name per call: no open block to hand back, every call
        // takes a new block from the pool row.
        const Timing reserve = measure<vornix::LineDatabase>(
            stations,
            [&](int) {
                std::string d;
                return vornix::LineDatabase::open(connection, 10, d);
            },
            [&](vornix::LineDatabase& db, int t, int i, std::string& d) {
                vornix::Reservation r;
                const std::string station =
                    "b" + std::to_string(stations) + "-" + std::to_string(t) + "-" + std::to_string(i);
                return db.reserve(pool, station, 4, station, 3600, r, d) == vornix::LineDatabase::ReserveResult::Reserved;
            });
        reserved += callsPerLevel / stations * stations - reserve.failed;

        struct Floor {
            std::unique_ptr<vornix::odbc::Connection> connection;
            std::unique_ptr<vornix::odbc::Statement> update;
        };
        const Timing floor = measure<Floor>(
            stations,
            [&](int) {
                auto f = std::make_unique<Floor>();
                std::string d;
                f->connection = vornix::odbc::Connection::open(connection, d);
                if (f->connection) f->update = f->connection->prepare("UPDATE floor_row SET n = n + ? WHERE id = 1", d);
                return f->update ? std::move(f) : nullptr;
            },
            [](Floor& f, int, int, std::string& d) {
                long long rows = 0;
                return f.update->execute({vornix::odbc::Parameter::integer(1)}, d) && f.update->rowCount(rows, d) &&
                       rows == 1 && f.connection->commit(d);
            });

        std::printf("%-9d | %9.0f %10.2f %10.2f | %9.0f %10.2f %10.2f | %.1f\n", stations, reserve.perSecond,
                    reserve.medianMs, reserve.p99Ms, floor.perSecond, floor.medianMs, floor.p99Ms,
                    reserve.medianMs / floor.medianMs);
        for (const Timing* t : {&reserve, &floor}) {
            if (t->failed) {
                std::printf("  %d calls FAILED, the first: %s\n", t->failed, t->firstFailure.c_str());
                status = 1;
            }
        }
    }

    // The blocks handed out must add up: none lost, none twice.
    auto db = vornix::LineDatabase::open(connection, 10, diagnostic);
    std::vector<vornix::PoolStatus> pools;
    std::vector<vornix::OpenReservation> open;
    if (!db || !db->status(pools, open, diagnostic)) {
        std::printf("status FAILED: %s\n", diagnostic.c_str());
        return 1;
    }
    long long used = -1, blocks = 0;
    for (const auto& p : pools)
        if (p.name == pool) used = p.used;
    for (const auto& o : open) blocks += o.pool == pool;
    const bool adds = used == reserved * 4 && blocks == reserved;
    std::printf("%lld blocks reserved, %lld addresses used, %lld open blocks: %s\n", reserved, used, blocks,
                adds ? "consistent" : "INCONSISTENT");
    return adds ? status : 1;
}

// How long a reservation takes to give up on a server that stopped
// answering (SIGSTOP: connections stay open, the kernel acknowledges), for
// two timeouts, on a connection opened before the stop and on a new one.
int noticeStoppedServer(vornix::test::PostgresServer& server) {
    std::printf("\nserver stopped (SIGSTOP) before a reservation:\n");
    std::printf("%-9s | %-26s | %s\n", "timeout", "open connection: given up", "new connection: given up");
    int status = 0;
    for (int timeout : {2, 5}) {
        double seconds[2] = {0, 0};
        for (int fresh = 0; fresh < 2; ++fresh) {
            vornix::LineClient client(server.connectionString(), "stop-bench", timeout);
            auto reserve = [&](const std::string& run) {
                return client.call([run](vornix::LineDatabase& db) -> vornix::LineClient::Answer {
                    vornix::Reservation r;
                    std::string d;
                    const bool ok = db.reserve("bench-plain", "stop-bench", 1, run, 3600, r, d) ==
                                    vornix::LineDatabase::ReserveResult::Reserved;
                    return {ok ? vornix::LineClient::Status::Done : vornix::LineClient::Status::Failed, d};
                });
            };
            if (!fresh && reserve("warm-" + std::to_string(timeout)).status != vornix::LineClient::Status::Done) {
                std::printf("  the reservation before the stop FAILED\n");
                return 1;
            }
            server.signalAll(SIGSTOP);
            const auto start = std::chrono::steady_clock::now();
            const vornix::LineClient::Answer answer = reserve("stopped-" + std::to_string(timeout));
            seconds[fresh] = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            server.signalAll(SIGCONT);
            if (answer.status != vornix::LineClient::Status::Unanswered) {
                std::printf("  timeout %d s: the call was not given up but ended with status %d: %s\n", timeout,
                            static_cast<int>(answer.status), answer.diagnostic.c_str());
                status = 1;
            }
            // The call left behind ends once the server goes on; let it, so
            // the next measurement starts from a quiet process.
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
        }
        std::printf("%6d s  | %23.2f s | %21.2f s\n", timeout, seconds[0], seconds[1]);
    }
    return status;
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
        auto db = vornix::LineDatabase::open(server.connectionString(), 10, diagnostic);
        auto plain = vornix::odbc::Connection::open(server.connectionString(), diagnostic);
        if (!db || !db->createTables(diagnostic) || !plain ||
            !plain->executeDirect("CREATE TABLE floor_row (id INTEGER PRIMARY KEY, n BIGINT NOT NULL)", diagnostic) ||
            !plain->executeDirect("INSERT INTO floor_row VALUES (1, 0)", diagnostic) || !plain->commit(diagnostic)) {
            std::fprintf(stderr, "set-up failed: %s\n", diagnostic.c_str());
            return 1;
        }
    }
    std::string version = server.sql("SHOW server_version");
    version = version.substr(0, version.find_first_of(" \n"));
    std::printf("PostgreSQL %s on 127.0.0.1 with fsync on, psqlODBC through unixODBC; %d calls per row,\n"
                "4 addresses a block; each station a thread with its own connection\n",
                version.c_str(), callsPerLevel);
    // psqlODBC wraps every statement of a transaction in a savepoint unless
    // told to roll back whole transactions, which the client does anyway.
    const int plain = table(server.connectionString(), "", "bench-plain", "00:11:21");
    const int whole = table(server.connectionString() + "Protocol=7.4-1;", "Protocol=7.4-1;", "bench-whole", "00:11:22");
    const int stopped = noticeStoppedServer(server);
    return plain || whole || stopped;
}
