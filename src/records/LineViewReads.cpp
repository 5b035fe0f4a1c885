#include "records/LineDatabase.h"

#include "records/LineStatements.h"

// What the line view reads: runs page by page, one run, an address's
// router, the pools' figures and units with their runs. Readers hold no
// transaction open.
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

namespace linedb {

bool readUnit(LineDatabase::Statements& statements, const std::string& serial, long long mac,
              std::optional<LineUnit>& unit, std::string& problem) {
    unit.reset();
    // By an address: the unit whose block starts nearest below it, if the
    // block reaches it (blocks never overlap), found through the index.
    Cursor rows = mac < 0 ? run(statements,
                                "SELECT serial, pool, first_mac, mac_count, bound_at, run_id FROM vornix_unit"
                                " WHERE serial = ?",
                                {Parameter::text(serial)}, problem)
                          : run(statements,
                                "SELECT serial, pool, first_mac, mac_count, bound_at, run_id FROM vornix_unit"
                                " WHERE first_mac <= ? ORDER BY first_mac DESC LIMIT 1",
                                {Parameter::integer(mac)}, problem);
    const Fetch f = rows ? rows->fetch(problem) : Fetch::Failed;
    if (f == Fetch::End) return true;
    std::optional<std::string> name, pool, at, runId;
    std::optional<long long> first, count;
    if (f == Fetch::Failed || !rows->text(1, name, problem) || !rows->text(2, pool, problem) ||
        !rows->integer(3, first, problem) || !rows->integer(4, count, problem) || !rows->text(5, at, problem) ||
        !rows->text(6, runId, problem))
        return false;
    if (mac >= 0 && first.value_or(0) + count.value_or(0) <= mac) return true;
    unit = LineUnit{name.value_or(""), pool.value_or(""), first.value_or(0), static_cast<int>(count.value_or(0)),
                    at.value_or(""), runId.value_or("")};
    return true;
}

}  // namespace linedb

bool LineDatabase::findUnit(const std::string& serial, std::optional<LineUnit>& unit, std::string& diagnostic) {
    std::string problem;
    // Ended (rolled back) on return: a reader holds no transaction open.
    odbc::Transaction transaction(*connection_);
    if (linedb::readUnit(*statements_, serial, -1, unit, problem)) return true;
    diagnostic = "cannot look up unit " + connection_->mask(serial) + ": " + problem;
    return false;
}

bool LineDatabase::findUnitHolding(long long mac, std::optional<LineUnit>& unit, std::string& diagnostic) {
    std::string problem;
    odbc::Transaction transaction(*connection_);
    if (linedb::readUnit(*statements_, std::string(), mac, unit, problem)) return true;
    diagnostic = "cannot look up the unit of " + formatMac(mac) + ": " + problem;
    return false;
}

bool LineDatabase::readUnitRuns(const std::string& serial, std::vector<StoredRun>& runs, std::string& diagnostic) {
    runs.clear();
    std::string problem;
    odbc::Transaction transaction(*connection_);
    // A run id begins with its start in UTC: their order is the runs'.
    auto rows = run(*statements_,
                    "SELECT run_id, station, recorded_at, record_text FROM vornix_run WHERE serial = ? ORDER BY run_id",
                    {Parameter::text(serial)}, problem);
    for (Fetch f; rows && (f = rows->fetch(problem)) != Fetch::End;) {
        StoredRun stored;
        if (f == Fetch::Failed || !readStoredRun(*rows, stored, problem)) {
            rows.reset();
            break;
        }
        runs.push_back(std::move(stored));
    }
    if (!rows) {
        diagnostic = "cannot read the runs of unit " + connection_->mask(serial) + ": " + problem;
        runs.clear();
        return false;
    }
    return true;
}

}  // namespace vornix
