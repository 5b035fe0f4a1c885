#include "records/LineDatabase.h"

#include "records/LineStatements.h"

// Pools of addresses and the blocks reserved from them, from reservation to
// assignment or release.
namespace vornix {

using odbc::Fetch;
using odbc::Parameter;
using linedb::Cursor;
using linedb::change;
using linedb::nameProblem;
using linedb::run;
using linedb::utcNow;
using linedb::validName;

namespace {

// The server's clock in whole seconds since 1970: leases are compared on one
// clock, whatever the stations' clocks say. PostgreSQL's spelling; this is
// the one statement another server would need in its own.
constexpr char serverSeconds[] = "SELECT CAST(FLOOR(EXTRACT(EPOCH FROM CURRENT_TIMESTAMP)) AS BIGINT)";

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

LineDatabase::ReserveResult LineDatabase::reserve(const std::string& pool, const std::string& station, int count,
                                                  const std::string& holder, int leaseSeconds,
                                                  Reservation& reservation, std::string& diagnostic,
                                                  const std::string& serial, bool newSerial) {
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
    if (!serial.empty()) {
        if (!validName(serial, maxSerial)) return fail(nameProblem("the serial", serial, maxSerial));
        return reserveForUnit(pool, station, count, holder, leaseSeconds, serial, newSerial, reservation, diagnostic);
    }

    odbc::Transaction transaction(db);
    const ReserveResult taken = takeBlock(pool, station, count, holder, leaseSeconds, reservation, diagnostic);
    std::string problem;
    if (taken == ReserveResult::Reserved && !transaction.commit(problem)) return fail(problem);
    return taken;
}

LineDatabase::ReserveResult LineDatabase::takeBlock(const std::string& pool, const std::string& station, int count,
                                                    const std::string& holder, int leaseSeconds,
                                                    Reservation& reservation, std::string& diagnostic) {
    odbc::Connection& db = *connection_;
    auto fail = [&](const std::string& problem) {
        diagnostic = "cannot reserve " + std::to_string(count) + " addresses in pool " + db.mask(pool) + ": " + problem;
        return ReserveResult::Failed;
    };
    std::string problem;
    long long now = 0;
    if (!serverNow(*statements_, now, problem)) return fail(problem);
    const long long leaseEnd = now + leaseSeconds;
    // The station's open blocks: this run's own (a reservation asked again
    // after its answer was lost), and those of runs that are over. A unit's
    // block is its unit's alone, whatever became of the run that held it.
    auto open = run(*statements_,
                    "SELECT id, first_mac, mac_count, holder, lease_until, written_at FROM vornix_reservation r"
                    " WHERE station = ? AND pool = ? AND state = 'open'"
                    " AND NOT EXISTS (SELECT 1 FROM vornix_unit u WHERE u.first_mac = r.id) ORDER BY id",
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
                rows, problem))
        return fail(problem);
    reservation = Reservation{first, first, count, false, holder};
    return ReserveResult::Reserved;
}

LineDatabase::ReserveResult LineDatabase::reserveForUnit(const std::string& pool, const std::string& station, int count,
                                                         const std::string& holder, int leaseSeconds,
                                                         const std::string& serial, bool newSerial,
                                                         Reservation& reservation, std::string& diagnostic) {
    odbc::Connection& db = *connection_;
    std::string problem;
    auto fail = [&] {
        diagnostic = "cannot reserve " + std::to_string(count) + " addresses for unit " + db.mask(serial) + " in pool " +
                     db.mask(pool) + ": " + problem;
        return ReserveResult::Failed;
    };
    // Twice at most: a new unit bound by another station at the same moment
    // fails this one's insert, and the second time round the unit is there.
    for (int attempt = 0; attempt < 2; ++attempt) {
        odbc::Transaction transaction(db);
        std::optional<LineUnit> unit;
        if (!linedb::readUnit(*statements_, serial, -1, unit, problem)) return fail();
        if (unit && newSerial) {
            // The counter was set back by hand: this board is not that unit.
            diagnostic = "serial " + db.mask(serial) + " was given to a unit before";
            return ReserveResult::UnitKnown;
        }
        if (unit) {
            reservation = Reservation{unit->first, unit->first, unit->count, false, holder, true};
            if (unit->count != count) {
                diagnostic = "unit " + db.mask(serial) + " has " + std::to_string(unit->count) +
                             " MAC addresses from " + formatMac(unit->first) + ", not " + std::to_string(count);
                return ReserveResult::UnitSize;
            }
            long long now = 0, rows = 0;
            if (!serverNow(*statements_, now, problem)) return fail();
            // Reopened for this run unless another run holds it: its lease
            // is still open. The pool stays where it is.
            if (!change(*statements_,
                        "UPDATE vornix_reservation SET state = 'open', station = ?, holder = ?, lease_until = ?"
                        " WHERE id = ? AND (state <> 'open' OR holder = ? OR COALESCE(lease_until, 0) <= ?)",
                        {Parameter::text(station), Parameter::text(holder), Parameter::integer(now + leaseSeconds),
                         Parameter::integer(unit->first), Parameter::text(holder), Parameter::integer(now)},
                        rows, problem))
                return fail();
            if (rows != 1) {
                diagnostic = "unit " + db.mask(serial) + " is being written by another run";
                return ReserveResult::UnitBusy;
            }
            if (!transaction.commit(problem)) return fail();
            return ReserveResult::Reserved;
        }
        const ReserveResult taken = takeBlock(pool, station, count, holder, leaseSeconds, reservation, diagnostic);
        if (taken != ReserveResult::Reserved) return taken;
        // Bound before a byte goes to the router, in the block's own transaction.
        long long rows = 0;
        if (change(*statements_,
                   "INSERT INTO vornix_unit (serial, pool, first_mac, mac_count, bound_at, run_id)"
                   " VALUES (?, ?, ?, ?, ?, ?)",
                   {Parameter::text(serial), Parameter::text(pool), Parameter::integer(reservation.first),
                    Parameter::integer(count), Parameter::text(utcNow()), Parameter::text(holder)},
                   rows, problem) &&
            transaction.commit(problem))
            return ReserveResult::Reserved;
        if (db.lost()) break;
    }
    return fail();
}

bool LineDatabase::takeSerialNumber(const std::string& format, long long start, long long& number,
                                    std::string& diagnostic) {
    odbc::Connection& db = *connection_;
    std::string problem;
    auto fail = [&] {
        diagnostic = "cannot number a serial of format " + db.mask(format) + ": " + problem;
        return false;
    };
    if (format.empty() || format.size() > maxSerialFormat) {
        problem = "a format holds 1 to " + std::to_string(maxSerialFormat) + " characters";
        return fail();
    }
    // Twice at most: a station numbering the format's first serial at the
    // same moment fails this one's insert, and the second time round the
    // counter is there.
    for (int attempt = 0; attempt < 2; ++attempt) {
        odbc::Transaction transaction(db);
        long long rows = 0;
        // The row is this transaction's from the update until it commits.
        if (!change(*statements_, "UPDATE vornix_serial_counter SET next_number = next_number + 1 WHERE format = ?",
                    {Parameter::text(format)}, rows, problem))
            return fail();
        if (rows == 0) {
            if (change(*statements_, "INSERT INTO vornix_serial_counter (format, next_number) VALUES (?, ?)",
                       {Parameter::text(format), Parameter::integer(start + 1)}, rows, problem) &&
                transaction.commit(problem)) {
                number = start;
                return true;
            }
            if (db.lost()) break;
            continue;
        }
        auto taken = run(*statements_, "SELECT next_number FROM vornix_serial_counter WHERE format = ?",
                         {Parameter::text(format)}, problem);
        if (!taken) return fail();
        const Fetch f = taken->fetch(problem);
        std::optional<long long> next;
        if (f != Fetch::Row || !taken->integer(1, next, problem) || !next) {
            if (problem.empty()) problem = "the counter went while it was read";
            return fail();
        }
        if (!transaction.commit(problem)) return fail();
        number = *next - 1;
        return true;
    }
    return fail();
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
    long long rows = 0;
    // A unit's block is never spent, written or not: it goes back to its
    // unit, as a router's when an earlier run of the unit assigned it (its
    // first address is assigned: looked up by the key), and the unit's next
    // run writes it again.
    if (!change(*statements_,
                "UPDATE vornix_reservation SET lease_until = 0, state = CASE WHEN EXISTS (SELECT 1 FROM"
                " vornix_assignment a WHERE a.mac = vornix_reservation.first_mac) THEN 'assigned' ELSE 'unit' END"
                " WHERE holder = ? AND state = 'open'"
                " AND EXISTS (SELECT 1 FROM vornix_unit u WHERE u.first_mac = vornix_reservation.id)",
                {Parameter::text(holder)}, rows, problem))
        return fail();
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
                    "SELECT r.station, r.first_mac, r.mac_count, r.state, r.holder, u.serial FROM vornix_reservation r"
                    " LEFT JOIN vornix_unit u ON u.first_mac = r.id WHERE r.id = ?",
                    {Parameter::integer(reservationId)}, problem);
    if (!held) return fail(problem);
    const Fetch f = held->fetch(problem);
    if (f == Fetch::Failed) return fail(problem);
    if (f == Fetch::End) return refuse("no such reservation");
    std::optional<std::string> owner, state, heldBy, unit;
    std::optional<long long> first, count;
    if (!held->text(1, owner, problem) || !held->integer(2, first, problem) || !held->integer(3, count, problem) ||
        !held->text(4, state, problem) || !held->text(5, heldBy, problem) || !held->text(6, unit, problem))
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
    if (unit) {
        // A unit's block that an earlier run of the unit assigned: the
        // addresses are this run's router's now (found by the key: only
        // this block ever held them).
        if (!change(*statements_,
                    "UPDATE vornix_assignment SET station = ?, router = ?, run_id = ?, assigned_at = ?"
                    " WHERE mac >= ? AND mac < ?",
                    {Parameter::text(station), Parameter::text(routerAddress), Parameter::text(runId),
                     Parameter::text(now), Parameter::integer(first.value_or(0)),
                     Parameter::integer(first.value_or(0) + count.value_or(0))},
                    rows, problem))
            return fail(problem);
        if (rows == count.value_or(0)) {
            if (!transaction.commit(problem)) return fail(problem);
            return AssignResult::Assigned;
        }
    }
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

}  // namespace vornix
