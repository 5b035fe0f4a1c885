#include "records/LineDatabase.h"

#include <cctype>
#include <cstdio>
#include <map>

#include "records/Odbc.h"
#include "records/UtcTime.h"

// The statements keep to what PostgreSQL, SQL Server and MySQL all accept:
// no RETURNING, no ON CONFLICT, no generated keys, no IF NOT EXISTS, times as
// UTC text. Every value from outside is a bound parameter.
namespace vornix {

using odbc::Fetch;
using odbc::Parameter;

namespace {

constexpr char createPool[] =
    "CREATE TABLE vornix_pool ("
    " name VARCHAR(128) NOT NULL PRIMARY KEY,"
    " first_mac BIGINT NOT NULL,"
    " last_mac BIGINT NOT NULL,"
    " next_mac BIGINT NOT NULL,"
    " created_at VARCHAR(20) NOT NULL)";
// The block's first address is its id: pools never overlap and next_mac
// only grows, so no two blocks start at the same address.
constexpr char createReservation[] =
    "CREATE TABLE vornix_reservation ("
    " id BIGINT NOT NULL PRIMARY KEY,"
    " pool VARCHAR(128) NOT NULL REFERENCES vornix_pool (name),"
    " station VARCHAR(128) NOT NULL,"
    " first_mac BIGINT NOT NULL,"
    " mac_count INTEGER NOT NULL,"
    " state VARCHAR(10) NOT NULL,"
    " reserved_at VARCHAR(20) NOT NULL,"
    " closed_at VARCHAR(20),"
    " holder VARCHAR(128),"
    " lease_until BIGINT,"
    " written_at VARCHAR(20))";
constexpr char indexReservation[] =
    "CREATE INDEX vornix_reservation_station ON vornix_reservation (station, state)";
// The address as primary key: no address can reach two routers.
constexpr char createAssignment[] =
    "CREATE TABLE vornix_assignment ("
    " mac BIGINT NOT NULL PRIMARY KEY,"
    " reservation_id BIGINT NOT NULL REFERENCES vornix_reservation (id),"
    " station VARCHAR(128) NOT NULL,"
    " router VARCHAR(64) NOT NULL,"
    " run_id VARCHAR(128) NOT NULL,"
    " assigned_at VARCHAR(20) NOT NULL)";
constexpr char createRun[] =
    "CREATE TABLE vornix_run ("
    " run_id VARCHAR(128) NOT NULL PRIMARY KEY,"
    " station VARCHAR(128) NOT NULL,"
    " recorded_at VARCHAR(20) NOT NULL,"
    " record_text TEXT NOT NULL)";
// The line view asks for the records stored since it last asked.
constexpr char indexRun[] = "CREATE INDEX vornix_run_recorded ON vornix_run (recorded_at)";

// One row per lock: a transaction that updates it first holds it until it
// ends. Adding a pool takes "pools", so overlap checks never run side by side.
constexpr char createLock[] = "CREATE TABLE vornix_lock (name VARCHAR(32) NOT NULL PRIMARY KEY)";
constexpr char poolsLockRow[] = "INSERT INTO vornix_lock (name) VALUES ('pools')";

struct TableDefinition {
    const char* name;
    const char* create;
    const char* index;  // created with the table, or nullptr
    const char* row;    // inserted with the table, or nullptr
};
// In the order their references need.
constexpr TableDefinition tables[] = {
    {"vornix_pool", createPool, nullptr, nullptr},
    {"vornix_reservation", createReservation, indexReservation, nullptr},
    {"vornix_assignment", createAssignment, nullptr, nullptr},
    {"vornix_run", createRun, indexRun, nullptr},
    {"vornix_lock", createLock, nullptr, poolsLockRow},
};

// Columns a table made by an earlier version lacks, added by createTables().
struct ColumnDefinition {
    const char* table;
    const char* column;
    const char* add;
};
constexpr ColumnDefinition laterColumns[] = {
    {"vornix_reservation", "holder", "ALTER TABLE vornix_reservation ADD holder VARCHAR(128)"},
    {"vornix_reservation", "lease_until", "ALTER TABLE vornix_reservation ADD lease_until BIGINT"},
    {"vornix_reservation", "written_at", "ALTER TABLE vornix_reservation ADD written_at VARCHAR(20)"},
};

// The server's clock in whole seconds since 1970: leases are compared on one
// clock, whatever the stations' clocks say. PostgreSQL's spelling; this is
// the one statement another server would need in its own.
constexpr char serverSeconds[] = "SELECT CAST(FLOOR(EXTRACT(EPOCH FROM CURRENT_TIMESTAMP)) AS BIGINT)";

std::string utcNow() {
    // Whole seconds: the tables keep "YYYY-MM-DDTHH:MM:SSZ".
    return UtcTime(std::chrono::system_clock::now()).format("%04d-%02d-%02dT%02d:%02d:%02dZ");
}

// A name the tables can hold and a status table can show.
bool validName(const std::string& name, std::size_t maxLength) {
    if (name.empty() || name.size() > maxLength) return false;
    for (char c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
    return true;
}

std::string nameProblem(const char* what, const std::string& name, std::size_t maxLength) {
    if (name.empty()) return std::string(what) + " is empty";
    if (name.size() > maxLength)
        return std::string(what) + " is longer than " + std::to_string(maxLength) + " bytes";
    return std::string(what) + " contains a control character";
}

// A prepared statement in use; its result is closed when done with, the
// statement stays prepared for the next call.
class Cursor {
public:
    explicit Cursor(odbc::Statement* statement = nullptr) : statement_(statement) {}
    ~Cursor() { reset(); }
    Cursor(Cursor&& other) noexcept : statement_(other.statement_) { other.statement_ = nullptr; }
    Cursor(const Cursor&) = delete;
    Cursor& operator=(const Cursor&) = delete;
    Cursor& operator=(Cursor&&) = delete;

    explicit operator bool() const { return statement_ != nullptr; }
    odbc::Statement* operator->() const { return statement_; }
    odbc::Statement& operator*() const { return *statement_; }
    void reset() {
        if (statement_) statement_->close();
        statement_ = nullptr;
    }

private:
    odbc::Statement* statement_;
};

}  // namespace

// Each statement is prepared once per connection: a station's block then
// costs one round trip per statement.
struct LineDatabase::Statements {
    explicit Statements(odbc::Connection& connection) : connection(connection) {}

    odbc::Statement* get(const char* sql, std::string& diagnostic) {
        std::unique_ptr<odbc::Statement>& slot = prepared[sql];
        if (!slot) slot = connection.prepare(sql, diagnostic);
        return slot.get();
    }

    odbc::Connection& connection;
    std::map<std::string, std::unique_ptr<odbc::Statement>> prepared;
};

namespace {

// Runs one statement, ready for its rows.
Cursor run(LineDatabase::Statements& statements, const char* sql, const std::vector<Parameter>& parameters,
           std::string& diagnostic) {
    odbc::Statement* statement = statements.get(sql, diagnostic);
    if (!statement || !statement->execute(parameters, diagnostic)) return Cursor();
    return Cursor(statement);
}

// Runs an INSERT, UPDATE or DELETE and tells how many rows it changed.
bool change(LineDatabase::Statements& statements, const char* sql, const std::vector<Parameter>& parameters,
            long long& rows, std::string& diagnostic) {
    const Cursor statement = run(statements, sql, parameters, diagnostic);
    return statement && statement->rowCount(rows, diagnostic);
}

}  // namespace

std::optional<long long> parseMac(std::string_view text) {
    if (text.size() != 17) return std::nullopt;
    long long value = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (i % 3 == 2) {
            if (c != ':') return std::nullopt;
            continue;
        }
        if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
        const int digit = std::isdigit(static_cast<unsigned char>(c))
                              ? c - '0'
                              : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
        value = value * 16 + digit;
    }
    return value;
}

std::string formatMac(long long mac) {
    char text[18];
    const auto v = static_cast<unsigned long long>(mac);
    std::snprintf(text, sizeof text, "%02llX:%02llX:%02llX:%02llX:%02llX:%02llX", (v >> 40) & 0xFF, (v >> 32) & 0xFF,
                  (v >> 24) & 0xFF, (v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
    return text;
}

std::string poolProblem(const std::string& name, const std::string& firstMac, const std::string& lastMac) {
    if (!validName(name, maxPoolName)) return nameProblem("the pool name", name, maxPoolName);
    const auto first = parseMac(firstMac), last = parseMac(lastMac);
    if (!first || !last) return "not a MAC address (XX:XX:XX:XX:XX:XX): " + (first ? lastMac : firstMac);
    if (*first > *last) return "the first address " + formatMac(*first) + " is above the last " + formatMac(*last);
    if ((*first >> 24) != (*last >> 24))
        return "the range " + formatMac(*first) + " - " + formatMac(*last) +
               " leaves its 24-bit block: the first three octets must be equal";
    return {};
}

LineDatabase::LineDatabase(std::unique_ptr<odbc::Connection> connection)
    : connection_(std::move(connection)), statements_(std::make_unique<Statements>(*connection_)) {}

LineDatabase::~LineDatabase() = default;

bool LineDatabase::lost() const { return connection_->lost(); }

std::unique_ptr<LineDatabase> LineDatabase::open(const std::string& connectionString, int timeoutSeconds,
                                                 std::string& diagnostic) {
    auto connection = odbc::Connection::open(connectionString, timeoutSeconds, diagnostic);
    if (!connection) return nullptr;
    return std::unique_ptr<LineDatabase>(new LineDatabase(std::move(connection)));
}

bool LineDatabase::createTables(std::string& diagnostic) {
    odbc::Connection& db = *connection_;
    // Whether the table is there, asked in a way every engine understands.
    auto exists = [&](const std::string& probe) {
        std::string ignored;
        odbc::Transaction transaction(db);
        const auto statement = db.prepare(probe, ignored);
        return statement && statement->execute({}, ignored) && transaction.commit(ignored);
    };
    for (const TableDefinition& table : tables) {
        if (exists(std::string("SELECT 1 FROM ") + table.name + " WHERE 1 = 0")) continue;
        std::string problem;
        {
            odbc::Transaction transaction(db);
            if (db.executeDirect(table.create, problem) && (!table.index || db.executeDirect(table.index, problem)) &&
                (!table.row || db.executeDirect(table.row, problem)) && transaction.commit(problem))
                continue;
        }
        // Another station may have created it a moment ago.
        if (exists(std::string("SELECT 1 FROM ") + table.name + " WHERE 1 = 0")) continue;
        diagnostic = "cannot create table " + std::string(table.name) + ": " + problem;
        return false;
    }
    // Tables made by an earlier version get the indexes added since. No
    // engine asks "does this index exist" the same way: one that cannot be
    // made is taken to be there already, and the tables work without it.
    for (const char* index : {indexRun}) {
        std::string ignored;
        odbc::Transaction transaction(db);
        if (db.executeDirect(index, ignored)) transaction.commit(ignored);
    }
    for (const ColumnDefinition& column : laterColumns) {
        const std::string probe = std::string("SELECT ") + column.column + " FROM " + column.table + " WHERE 1 = 0";
        if (exists(probe)) continue;
        std::string problem;
        {
            odbc::Transaction transaction(db);
            if (db.executeDirect(column.add, problem) && transaction.commit(problem)) continue;
        }
        if (exists(probe)) continue;
        diagnostic = "cannot add column " + std::string(column.column) + " to " + column.table + ": " + problem;
        return false;
    }
    return true;
}

LineDatabase::AddResult LineDatabase::addPool(const std::string& name, const std::string& firstMac,
                                              const std::string& lastMac, std::string& diagnostic) {
    const std::string invalid = poolProblem(name, firstMac, lastMac);
    if (!invalid.empty()) {
        diagnostic = connection_->mask(invalid);
        return AddResult::Invalid;
    }
    const auto first = parseMac(firstMac), last = parseMac(lastMac);

    odbc::Connection& db = *connection_;
    auto fail = [&](const std::string& problem) {
        diagnostic = "cannot add pool " + db.mask(name) + ": " + problem;
        return AddResult::Failed;
    };
    std::string problem;
    odbc::Transaction transaction(db);
    // Two stations adding pools at once would both find no overlap: the
    // second waits here until the first has committed.
    long long locked = 0;
    if (!change(*statements_, "UPDATE vornix_lock SET name = name WHERE name = 'pools'", {}, locked, problem))
        return fail(problem);
    if (locked != 1) return fail("the lock row is missing: run --line-init");
    auto named = run(*statements_, "SELECT first_mac, last_mac FROM vornix_pool WHERE name = ?",
                     {Parameter::text(name)}, problem);
    if (!named) return fail(problem);
    const Fetch found = named->fetch(problem);
    if (found == Fetch::Failed) return fail(problem);
    if (found == Fetch::Row) {
        std::optional<long long> hasFirst, hasLast;
        if (!named->integer(1, hasFirst, problem) || !named->integer(2, hasLast, problem)) return fail(problem);
        if (hasFirst == first && hasLast == last) return AddResult::There;
        diagnostic = "pool " + db.mask(name) + " already exists with another range: " + formatMac(hasFirst.value_or(0)) +
                     " - " + formatMac(hasLast.value_or(0));
        return AddResult::Exists;
    }
    auto overlapping = run(*statements_,
                           "SELECT name, first_mac, last_mac FROM vornix_pool"
                           " WHERE first_mac <= ? AND last_mac >= ? ORDER BY first_mac",
                           {Parameter::integer(*last), Parameter::integer(*first)}, problem);
    if (!overlapping) return fail(problem);
    const Fetch overlap = overlapping->fetch(problem);
    if (overlap == Fetch::Failed) return fail(problem);
    if (overlap == Fetch::Row) {
        std::optional<std::string> other;
        std::optional<long long> otherFirst, otherLast;
        if (!overlapping->text(1, other, problem) || !overlapping->integer(2, otherFirst, problem) ||
            !overlapping->integer(3, otherLast, problem))
            return fail(problem);
        diagnostic = "the range " + formatMac(*first) + " - " + formatMac(*last) + " overlaps pool " +
                     db.mask(other.value_or("")) + " (" + formatMac(otherFirst.value_or(0)) + " - " +
                     formatMac(otherLast.value_or(0)) + ")";
        return AddResult::Invalid;
    }
    long long rows = 0;
    if (!change(*statements_, "INSERT INTO vornix_pool (name, first_mac, last_mac, next_mac, created_at) VALUES (?, ?, ?, ?, ?)",
                {Parameter::text(name), Parameter::integer(*first), Parameter::integer(*last),
                 Parameter::integer(*first), Parameter::text(utcNow())},
                rows, problem) ||
        !transaction.commit(problem))
        return fail(problem);
    return AddResult::Added;
}

bool LineDatabase::status(std::vector<PoolStatus>& pools, std::vector<OpenReservation>& reservations,
                          std::string& diagnostic) {
    odbc::Connection& db = *connection_;
    pools.clear();
    reservations.clear();
    auto fail = [&](const std::string& problem) {
        diagnostic = "cannot read the pools: " + problem;
        pools.clear();
        reservations.clear();
        return false;
    };
    std::string problem;
    odbc::Transaction transaction(db);
    auto poolRows =
        run(*statements_, "SELECT name, first_mac, last_mac, next_mac FROM vornix_pool ORDER BY name", {}, problem);
    if (!poolRows) return fail(problem);
    for (Fetch f; (f = poolRows->fetch(problem)) != Fetch::End;) {
        if (f == Fetch::Failed) return fail(problem);
        std::optional<std::string> name;
        std::optional<long long> first, last, next;
        if (!poolRows->text(1, name, problem) || !poolRows->integer(2, first, problem) ||
            !poolRows->integer(3, last, problem) || !poolRows->integer(4, next, problem))
            return fail(problem);
        PoolStatus pool;
        pool.name = name.value_or("");
        pool.first = first.value_or(0);
        pool.last = last.value_or(0);
        pool.used = next.value_or(0) - pool.first;
        pool.free = pool.last + 1 - next.value_or(0);
        pools.push_back(pool);
    }
    auto openRows = run(*statements_,
                        "SELECT pool, station, first_mac, mac_count, reserved_at FROM vornix_reservation"
                        " WHERE state = 'open' ORDER BY station, pool, first_mac",
                        {}, problem);
    if (!openRows) return fail(problem);
    for (Fetch f; (f = openRows->fetch(problem)) != Fetch::End;) {
        if (f == Fetch::Failed) return fail(problem);
        std::optional<std::string> pool, station, since;
        std::optional<long long> first, count;
        if (!openRows->text(1, pool, problem) || !openRows->text(2, station, problem) ||
            !openRows->integer(3, first, problem) || !openRows->integer(4, count, problem) ||
            !openRows->text(5, since, problem))
            return fail(problem);
        reservations.push_back({pool.value_or(""), station.value_or(""), first.value_or(0),
                                static_cast<int>(count.value_or(0)), since.value_or("")});
    }
    if (!transaction.commit(problem)) return fail(problem);
    return true;
}

namespace {

bool serverNow(LineDatabase::Statements& statements, long long& now, std::string& problem) {
    auto clock = run(statements, serverSeconds, {}, problem);
    if (!clock) return false;
    const Fetch f = clock->fetch(problem);
    if (f != Fetch::Row) {
        if (f == Fetch::End) problem = "the server did not tell its time";
        return false;
    }
    std::optional<long long> seconds;
    if (!clock->integer(1, seconds, problem)) return false;
    now = seconds.value_or(0);
    return true;
}

}  // namespace

LineDatabase::ReserveResult LineDatabase::reserve(const std::string& pool, const std::string& station, int count,
                                                  const std::string& holder, int leaseSeconds,
                                                  Reservation& reservation, std::string& diagnostic) {
    odbc::Connection& db = *connection_;
    auto fail = [&](const std::string& problem) {
        diagnostic = "cannot reserve " + std::to_string(count) + " addresses in pool " + db.mask(pool) + ": " + problem;
        return ReserveResult::Failed;
    };
    if (!validName(pool, maxPoolName)) return fail(nameProblem("the pool name", pool, maxPoolName));
    if (!validName(station, maxStationName)) return fail(nameProblem("the station name", station, maxStationName));
    if (!validName(holder, maxRunId)) return fail(nameProblem("the run id", holder, maxRunId));
    if (count < 1 || count > (1 << 24)) return fail("a block holds 1 to 16777216 addresses");
    if (leaseSeconds < 0) return fail("a lease cannot be negative");

    std::string problem;
    odbc::Transaction transaction(db);
    long long now = 0;
    if (!serverNow(*statements_, now, problem)) return fail(problem);
    const long long leaseEnd = now + leaseSeconds;
    // The station's open blocks: this run's own (a reservation asked again
    // after its answer was lost), and those of runs that are over.
    auto open = run(*statements_,
                    "SELECT id, first_mac, mac_count, holder, lease_until, written_at FROM vornix_reservation"
                    " WHERE station = ? AND pool = ? AND state = 'open' ORDER BY id",
                    {Parameter::text(station), Parameter::text(pool)}, problem);
    if (!open) return fail(problem);
    std::optional<Reservation> own, unfinished;
    std::vector<long long> other, spent;
    for (Fetch f; (f = open->fetch(problem)) != Fetch::End;) {
        if (f == Fetch::Failed) return fail(problem);
        std::optional<long long> id, first, size, until;
        std::optional<std::string> heldBy, written;
        if (!open->integer(1, id, problem) || !open->integer(2, first, problem) || !open->integer(3, size, problem) ||
            !open->text(4, heldBy, problem) || !open->integer(5, until, problem) || !open->text(6, written, problem))
            return fail(problem);
        Reservation block{id.value_or(0), first.value_or(0), static_cast<int>(size.value_or(0)), false,
                          heldBy.value_or("")};
        if (heldBy == holder) {
            if (!own && size == count) own = block;
            continue;
        }
        // A live run's block is never touched, whatever its station's name.
        if (until.value_or(0) > now) continue;
        // Its run sent the router a write and vanished (its release failed):
        // the block may be on that router, so it goes to no other.
        if (written) {
            spent.push_back(block.id);
            continue;
        }
        if (!unfinished && size == count) {
            block.again = true;
            unfinished = block;
        } else if (size != count) {
            other.push_back(block.id);
        }
    }
    open.reset();
    // A block of another size can never be used as it is: its addresses
    // stay out of circulation for good.
    const std::string nowText = utcNow();
    // Abandoned or spent alike: closed for good, unless a live run took it meanwhile.
    for (const auto& [ids, statement] :
         {std::pair<const std::vector<long long>&, const char*>{
              other, "UPDATE vornix_reservation SET state = 'abandoned', closed_at = ?"
                     " WHERE id = ? AND state = 'open' AND COALESCE(lease_until, 0) <= ?"},
          {spent, "UPDATE vornix_reservation SET state = 'spent', closed_at = ?"
                  " WHERE id = ? AND state = 'open' AND COALESCE(lease_until, 0) <= ?"}})
        for (long long id : ids) {
            long long rows = 0;
            if (!change(*statements_, statement,
                        {Parameter::text(nowText), Parameter::integer(id), Parameter::integer(now)}, rows, problem))
                return fail(problem);
        }
    for (const std::optional<Reservation>* found : {&own, &unfinished}) {
        if (!*found) continue;
        // Taken only while its holder is still this run or gone: of two runs
        // that found it, the second updates no row.
        long long rows = 0;
        if (!change(*statements_,
                    "UPDATE vornix_reservation SET holder = ?, lease_until = ?"
                    " WHERE id = ? AND state = 'open' AND (holder = ? OR COALESCE(lease_until, 0) <= ?)",
                    {Parameter::text(holder), Parameter::integer(leaseEnd), Parameter::integer((*found)->id),
                     Parameter::text(holder), Parameter::integer(now)},
                    rows, problem))
            return fail(problem);
        if (rows != 1) continue;
        if (!transaction.commit(problem)) return fail(problem);
        reservation = **found;
        return ReserveResult::Reserved;
    }

    // One conditional UPDATE takes the block: the row lock makes a second
    // station wait and then test the condition against the new next_mac.
    long long rows = 0;
    if (!change(*statements_, "UPDATE vornix_pool SET next_mac = next_mac + ? WHERE name = ? AND next_mac + ? <= last_mac + 1",
                {Parameter::integer(count), Parameter::text(pool), Parameter::integer(count)}, rows, problem))
        return fail(problem);
    if (rows != 1) {
        auto left = run(*statements_, "SELECT last_mac + 1 - next_mac FROM vornix_pool WHERE name = ?", {Parameter::text(pool)},
                        problem);
        if (!left) return fail(problem);
        const Fetch f = left->fetch(problem);
        if (f == Fetch::Failed) return fail(problem);
        if (f == Fetch::End) {
            diagnostic = "no pool " + db.mask(pool) + " in the line database";
            return ReserveResult::NoSuchPool;
        }
        std::optional<long long> free;
        if (!left->integer(1, free, problem)) return fail(problem);
        diagnostic = "pool " + db.mask(pool) + " is exhausted: " + std::to_string(free.value_or(0)) +
                     " addresses left, " + std::to_string(count) + " needed";
        return ReserveResult::Exhausted;
    }
    auto next = run(*statements_, "SELECT next_mac FROM vornix_pool WHERE name = ?", {Parameter::text(pool)}, problem);
    if (!next) return fail(problem);
    std::optional<long long> after;
    const Fetch f = next->fetch(problem);
    if (f != Fetch::Row) return fail(f == Fetch::End ? "the pool row is gone" : problem);
    if (!next->integer(1, after, problem)) return fail(problem);
    const long long first = after.value_or(0) - count;
    if (!change(*statements_,
                "INSERT INTO vornix_reservation (id, pool, station, first_mac, mac_count, state, reserved_at, holder,"
                " lease_until) VALUES (?, ?, ?, ?, ?, 'open', ?, ?, ?)",
                {Parameter::integer(first), Parameter::text(pool), Parameter::text(station), Parameter::integer(first),
                 Parameter::integer(count), Parameter::text(nowText), Parameter::text(holder),
                 Parameter::integer(leaseEnd)},
                rows, problem) ||
        !transaction.commit(problem))
        return fail(problem);
    reservation = Reservation{first, first, count, false, holder};
    return ReserveResult::Reserved;
}

bool LineDatabase::release(const std::string& holder, std::vector<Reservation>& spent, std::string& diagnostic) {
    odbc::Connection& db = *connection_;
    std::string problem;
    auto fail = [&] {
        diagnostic = "cannot release the block of run " + db.mask(holder) + ": " + problem;
        return false;
    };
    spent.clear();
    odbc::Transaction transaction(db);
    // A block its run wrote to the router may be on it: spent, never handed
    // out again. One it never wrote goes back to the station's next run.
    // Asked again after a lost answer, the spent block is told again.
    auto written = run(*statements_,
                       "SELECT id, first_mac, mac_count FROM vornix_reservation"
                       " WHERE holder = ? AND written_at IS NOT NULL AND state IN ('open', 'spent') ORDER BY id",
                       {Parameter::text(holder)}, problem);
    if (!written) return fail();
    for (Fetch f; (f = written->fetch(problem)) != Fetch::End;) {
        if (f == Fetch::Failed) return fail();
        std::optional<long long> id, first, count;
        if (!written->integer(1, id, problem) || !written->integer(2, first, problem) ||
            !written->integer(3, count, problem))
            return fail();
        spent.push_back(Reservation{id.value_or(0), first.value_or(0), static_cast<int>(count.value_or(0)), false,
                                    holder});
    }
    written.reset();
    long long rows = 0;
    if (!change(*statements_,
                "UPDATE vornix_reservation SET state = 'spent', closed_at = ?, lease_until = 0"
                " WHERE holder = ? AND state = 'open' AND written_at IS NOT NULL",
                {Parameter::text(utcNow()), Parameter::text(holder)}, rows, problem) ||
        !change(*statements_, "UPDATE vornix_reservation SET lease_until = 0 WHERE holder = ? AND state = 'open'",
                {Parameter::text(holder)}, rows, problem) ||
        !transaction.commit(problem)) {
        spent.clear();
        return fail();
    }
    return true;
}

LineDatabase::AssignResult LineDatabase::markWriting(long long reservationId, const std::string& holder,
                                                     std::string& diagnostic) {
    odbc::Connection& db = *connection_;
    std::string problem;
    long long rows = 0;
    odbc::Transaction transaction(db);
    // The first write's time stays: asked again after a lost answer, the
    // block is still marked.
    if (!change(*statements_,
                "UPDATE vornix_reservation SET written_at = COALESCE(written_at, ?)"
                " WHERE id = ? AND holder = ? AND state = 'open'",
                {Parameter::text(utcNow()), Parameter::integer(reservationId), Parameter::text(holder)}, rows,
                problem) ||
        !transaction.commit(problem)) {
        diagnostic = "cannot mark block " + formatMac(reservationId) + " as written: " + problem;
        return AssignResult::Failed;
    }
    if (rows != 1) {
        diagnostic = "cannot mark block " + formatMac(reservationId) + " as written: it is no longer this run's";
        return AssignResult::Refused;
    }
    return AssignResult::Assigned;
}

LineDatabase::AssignResult LineDatabase::assign(long long reservationId, const std::string& station,
                                                const std::string& routerAddress, const std::string& runId,
                                                std::string& diagnostic) {
    odbc::Connection& db = *connection_;
    auto fail = [&](const std::string& problem, AssignResult result = AssignResult::Failed) {
        diagnostic = "cannot assign block " + formatMac(reservationId) + ": " + problem;
        return result;
    };
    auto refuse = [&](const std::string& problem) { return fail(problem, AssignResult::Refused); };
    if (!validName(station, maxStationName)) return refuse(nameProblem("the station name", station, maxStationName));
    if (!validName(routerAddress, maxRouterAddress))
        return refuse(nameProblem("the router address", routerAddress, maxRouterAddress));
    if (!validName(runId, maxRunId)) return refuse(nameProblem("the run id", runId, maxRunId));

    std::string problem;
    odbc::Transaction transaction(db);
    auto held = run(*statements_,
                    "SELECT station, first_mac, mac_count, state, holder FROM vornix_reservation WHERE id = ?",
                    {Parameter::integer(reservationId)}, problem);
    if (!held) return fail(problem);
    const Fetch f = held->fetch(problem);
    if (f == Fetch::Failed) return fail(problem);
    if (f == Fetch::End) return refuse("no such reservation");
    std::optional<std::string> owner, state, heldBy;
    std::optional<long long> first, count;
    if (!held->text(1, owner, problem) || !held->integer(2, first, problem) || !held->integer(3, count, problem) ||
        !held->text(4, state, problem) || !held->text(5, heldBy, problem))
        return fail(problem);
    held.reset();
    if (owner != station) return refuse("it is reserved by station " + db.mask(owner.value_or("")));
    if (heldBy != runId) return refuse("it is held by another run");
    // Asked again after the answer to an assignment that committed was lost.
    if (state == "assigned") {
        auto mine = run(*statements_, "SELECT COUNT(*) FROM vornix_assignment WHERE reservation_id = ? AND run_id = ?",
                        {Parameter::integer(reservationId), Parameter::text(runId)}, problem);
        if (!mine) return fail(problem);
        std::optional<long long> rows;
        if (mine->fetch(problem) != Fetch::Row || !mine->integer(1, rows, problem)) return fail(problem);
        if (rows == count) return AssignResult::Assigned;
    }
    if (state != "open") return refuse("it is " + state.value_or("") + ", not open");

    // Closing it first locks the row: of two assignments of one block the
    // second waits and then finds it closed.
    const std::string now = utcNow();
    long long rows = 0;
    if (!change(*statements_,
                "UPDATE vornix_reservation SET state = 'assigned', closed_at = ? WHERE id = ? AND state = 'open'"
                " AND holder = ?",
                {Parameter::text(now), Parameter::integer(reservationId), Parameter::text(runId)}, rows, problem))
        return fail(problem);
    if (rows != 1) return refuse("it was closed meanwhile");
    odbc::Statement* insert = statements_->get(
        "INSERT INTO vornix_assignment (mac, reservation_id, station, router, run_id, assigned_at)"
        " VALUES (?, ?, ?, ?, ?, ?)",
        problem);
    if (!insert) return fail(problem);
    for (long long mac = first.value_or(0); mac < first.value_or(0) + count.value_or(0); ++mac) {
        if (!insert->execute({Parameter::integer(mac), Parameter::integer(reservationId), Parameter::text(station),
                              Parameter::text(routerAddress), Parameter::text(runId), Parameter::text(now)},
                             problem))
            return fail("address " + formatMac(mac) + ": " + problem);
    }
    if (!transaction.commit(problem)) return fail(problem);
    return AssignResult::Assigned;
}

bool LineDatabase::recordRun(const std::string& runId, const std::string& station, const std::string& record,
                             std::string& diagnostic) {
    odbc::Connection& db = *connection_;
    auto fail = [&](const std::string& problem) {
        diagnostic = "cannot record run " + db.mask(runId) + ": " + problem;
        return false;
    };
    if (!validName(runId, maxRunId)) return fail(nameProblem("the run id", runId, maxRunId));
    if (!validName(station, maxStationName)) return fail(nameProblem("the station name", station, maxStationName));
    std::string problem;
    long long rows = 0;
    odbc::Transaction transaction(db);
    // A record stored again (its result corrected, or a retry after a lost
    // answer) replaces the earlier one.
    const std::string now = utcNow();
    if (!change(*statements_, "UPDATE vornix_run SET station = ?, recorded_at = ?, record_text = ? WHERE run_id = ?",
                {Parameter::text(station), Parameter::text(now), Parameter::text(record), Parameter::text(runId)}, rows,
                problem))
        return fail(problem);
    if (rows == 0 &&
        !change(*statements_, "INSERT INTO vornix_run (run_id, station, recorded_at, record_text) VALUES (?, ?, ?, ?)",
                {Parameter::text(runId), Parameter::text(station), Parameter::text(now), Parameter::text(record)}, rows,
                problem))
        return fail(problem);
    if (!transaction.commit(problem)) return fail(problem);
    return true;
}

}  // namespace vornix

namespace vornix {

namespace {

bool readStoredRun(odbc::Statement& rows, LineDatabase::StoredRun& run, std::string& problem) {
    std::optional<std::string> id, station, at, record;
    if (!rows.text(1, id, problem) || !rows.text(2, station, problem) || !rows.text(3, at, problem) ||
        !rows.text(4, record, problem))
        return false;
    run = {id.value_or(""), station.value_or(""), at.value_or(""), record.value_or("")};
    return true;
}

}  // namespace

bool LineDatabase::readRuns(const std::string& after, const std::string& since, std::vector<StoredRun>& runs,
                            std::string& diagnostic) {
    runs.clear();
    std::string problem;
    // Ended (rolled back) on return: a reader holds no transaction open.
    odbc::Transaction transaction(*connection_);
    // Paged by the primary key: the driver reads a whole result before the
    // first row, so one page is in memory, not the table. LIMIT is
    // PostgreSQL's and MySQL's spelling (SQL Server's is TOP).
    static_assert(runPage == 2000, "the statement's LIMIT");
    auto rows = run(*statements_,
                    "SELECT run_id, station, recorded_at, record_text FROM vornix_run"
                    " WHERE run_id > ? AND recorded_at >= ? ORDER BY run_id LIMIT 2000",
                    {Parameter::text(after), Parameter::text(since)}, problem);
    for (Fetch f; rows && (f = rows->fetch(problem)) != Fetch::End;) {
        StoredRun stored;
        if (f == Fetch::Failed || !readStoredRun(*rows, stored, problem)) {
            rows.reset();
            break;
        }
        runs.push_back(std::move(stored));
    }
    if (!rows) {
        diagnostic = "cannot read the runs: " + problem;
        runs.clear();
        return false;
    }
    return true;
}

bool LineDatabase::countRuns(long long& count, std::string& diagnostic) {
    std::string problem;
    // Ended (rolled back) on return: a reader holds no transaction open.
    odbc::Transaction transaction(*connection_);
    auto rows = run(*statements_, "SELECT COUNT(*) FROM vornix_run", {}, problem);
    std::optional<long long> value;
    if (!rows || rows->fetch(problem) != Fetch::Row || !rows->integer(1, value, problem)) {
        diagnostic = "cannot count the runs: " + problem;
        return false;
    }
    count = value.value_or(0);
    return true;
}

bool LineDatabase::readRun(const std::string& runId, std::optional<StoredRun>& found, std::string& diagnostic) {
    found.reset();
    std::string problem;
    // Ended (rolled back) on return: a reader holds no transaction open.
    odbc::Transaction transaction(*connection_);
    auto rows = run(*statements_, "SELECT run_id, station, recorded_at, record_text FROM vornix_run WHERE run_id = ?",
                    {Parameter::text(runId)}, problem);
    Fetch f = Fetch::Failed;
    StoredRun stored;
    if (rows && (f = rows->fetch(problem)) == Fetch::Row && readStoredRun(*rows, stored, problem))
        found = std::move(stored);
    else if (f != Fetch::End) {
        diagnostic = "cannot read the run: " + problem;
        return false;
    }
    return true;
}

bool LineDatabase::findAssignment(long long mac, std::optional<Assignment>& found, std::string& diagnostic) {
    found.reset();
    std::string problem;
    // Ended (rolled back) on return: a reader holds no transaction open.
    odbc::Transaction transaction(*connection_);
    // One row of station, router, run, time, block (first, count) and pool:
    // 1 when found, 0 when none, -1 when the database failed.
    auto ask = [&](const char* sql, std::vector<Parameter> parameters, bool spent) {
        Cursor rows = run(*statements_, sql, parameters, problem);
        const Fetch f = rows ? rows->fetch(problem) : Fetch::Failed;
        if (f == Fetch::End) return 0;
        std::optional<std::string> station, router, runId, at, pool;
        std::optional<long long> first, count;
        if (f == Fetch::Failed || !rows->text(1, station, problem) || !rows->text(2, router, problem) ||
            !rows->text(3, runId, problem) || !rows->text(4, at, problem) || !rows->integer(5, first, problem) ||
            !rows->integer(6, count, problem) || !rows->text(7, pool, problem))
            return -1;
        found = Assignment{mac,
                           first.value_or(0),
                           static_cast<int>(count.value_or(0)),
                           pool.value_or(""),
                           station.value_or(""),
                           router.value_or(""),
                           runId.value_or(""),
                           at.value_or(""),
                           spent};
        return 1;
    };
    int got = ask("SELECT a.station, a.router, a.run_id, a.assigned_at, r.first_mac, r.mac_count, r.pool"
                  " FROM vornix_assignment a JOIN vornix_reservation r ON r.id = a.reservation_id WHERE a.mac = ?",
                  {Parameter::integer(mac)}, false);
    // Not a router's: perhaps in a block a run wrote and never made its router's.
    if (got == 0)
        got = ask("SELECT station, '', holder, closed_at, first_mac, mac_count, pool FROM vornix_reservation"
                  " WHERE state = 'spent' AND first_mac <= ? AND first_mac + mac_count > ?",
                  {Parameter::integer(mac), Parameter::integer(mac)}, true);
    if (got < 0) {
        diagnostic = "cannot look up the address: " + problem;
        return false;
    }
    return true;
}

bool LineDatabase::poolFigures(const std::vector<std::string>& since, std::vector<PoolFigures>& pools,
                               std::string& diagnostic) {
    pools.clear();
    std::string sql =
        "SELECT p.name, p.first_mac, p.last_mac, p.next_mac,"
        " COALESCE(SUM(CASE WHEN r.state = 'assigned' THEN r.mac_count ELSE 0 END), 0),"
        " COALESCE(SUM(CASE WHEN r.state = 'open' THEN r.mac_count ELSE 0 END), 0)";
    std::vector<Parameter> parameters;
    for (const std::string& time : since) {
        sql += ", COALESCE(SUM(CASE WHEN r.state = 'assigned' AND r.closed_at >= ? THEN r.mac_count ELSE 0 END), 0)";
        parameters.push_back(Parameter::text(time));
    }
    sql += " FROM vornix_pool p LEFT JOIN vornix_reservation r ON r.pool = p.name"
           " GROUP BY p.name, p.first_mac, p.last_mac, p.next_mac ORDER BY p.name";
    std::string problem;
    // Ended (rolled back) on return: a reader holds no transaction open.
    odbc::Transaction transaction(*connection_);
    // An assigned block's addresses are all in vornix_assignment (one
    // transaction), so its count stands for them: a quarter of the rows.
    auto rows = run(*statements_, sql.c_str(), parameters, problem);
    for (Fetch f; rows && (f = rows->fetch(problem)) != Fetch::End;) {
        std::optional<std::string> name;
        std::optional<long long> first, last, next, assigned, held, recent;
        PoolFigures pool;
        bool read = f == Fetch::Row && rows->text(1, name, problem) && rows->integer(2, first, problem) &&
                    rows->integer(3, last, problem) && rows->integer(4, next, problem) &&
                    rows->integer(5, assigned, problem) && rows->integer(6, held, problem);
        for (int column = 7; read && column < 7 + static_cast<int>(since.size()); ++column) {
            read = rows->integer(column, recent, problem);
            pool.assignedSince.push_back(recent.value_or(0));
        }
        if (!read) {
            rows.reset();
            break;
        }
        pool.name = name.value_or("");
        pool.first = first.value_or(0);
        pool.last = last.value_or(0);
        pool.free = pool.last + 1 - next.value_or(0);
        pool.assigned = assigned.value_or(0);
        pool.held = held.value_or(0);
        pools.push_back(pool);
    }
    if (!rows) {
        diagnostic = "cannot read the pools: " + problem;
        pools.clear();
        return false;
    }
    return true;
}

}  // namespace vornix
