#include "records/LineDatabase.h"

#include "records/LineStatements.h"

// The tables, made when missing and brought up to this version's columns.
namespace vornix {


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
    " record_text TEXT NOT NULL,"
    " serial VARCHAR(64))";
// The line view asks for the records stored since it last asked.
constexpr char indexRun[] = "CREATE INDEX vornix_run_recorded ON vornix_run (recorded_at)";
// A unit's page asks for its runs.
constexpr char indexRunSerial[] = "CREATE INDEX vornix_run_serial ON vornix_run (serial)";
// A unit keeps its block for life: the serial and the block's first
// address are each one unit's. No references: the block's reservation row
// (its id is first_mac) and pool are looked up by value.
constexpr char createUnit[] =
    "CREATE TABLE vornix_unit ("
    " serial VARCHAR(64) NOT NULL PRIMARY KEY,"
    " pool VARCHAR(128) NOT NULL,"
    " first_mac BIGINT NOT NULL UNIQUE,"
    " mac_count INTEGER NOT NULL,"
    " bound_at VARCHAR(20) NOT NULL,"
    " run_id VARCHAR(128) NOT NULL)";
// The line's counters of assigned serials, one per format: a number is
// taken for good, so none is ever given twice.
constexpr char createSerialCounter[] =
    "CREATE TABLE vornix_serial_counter ("
    " format VARCHAR(256) NOT NULL PRIMARY KEY,"
    " next_number BIGINT NOT NULL)";

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
    {"vornix_unit", createUnit, nullptr, nullptr},
    {"vornix_serial_counter", createSerialCounter, nullptr, nullptr},
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
    {"vornix_run", "serial", "ALTER TABLE vornix_run ADD serial VARCHAR(64)"},
};

}  // namespace

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
    // Tables made by an earlier version get the indexes added since, once
    // their columns are there. No engine asks "does this index exist" the
    // same way: one that cannot be made is taken to be there already, and
    // the tables work without it.
    for (const char* index : {indexRun, indexRunSerial}) {
        std::string ignored;
        odbc::Transaction transaction(db);
        if (db.executeDirect(index, ignored)) transaction.commit(ignored);
    }
    return true;
}

}  // namespace vornix
