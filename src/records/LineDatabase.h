#pragma once

// The line database: several stations draw MAC address blocks from one pool
// in a shared database. The database, not the stations, makes sure that no
// address is ever handed out twice: a block is taken by one conditional
// UPDATE of the pool row, and every address that reaches a router is a
// primary key of the assignment table.
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vornix {

namespace odbc {
class Connection;
}

// 48-bit addresses as numbers; text "XX:XX:XX:XX:XX:XX" (any case on input).
std::optional<long long> parseMac(std::string_view text);
std::string formatMac(long long mac);

// Lengths the tables hold, in UTF-8 bytes.
constexpr std::size_t maxPoolName = 127;      // [LINE] Pool's buffer
constexpr std::size_t maxStationName = 127;   // [LINE] Station's buffer
constexpr std::size_t maxRouterAddress = 63;
constexpr std::size_t maxRunId = 127;
constexpr std::size_t maxSerial = 64;  // a unit's serial, as [SERIAL] allows it
constexpr std::size_t maxSerialFormat = 256;  // [SERIAL] Format, as setup.ini allows it

// Why a pool cannot be added as given, before asking the database: a name
// empty, too long or with control characters, a text that is not an
// address, first above last, or a range that leaves its 24-bit block (a
// router's addresses count in the last three octets and must never wrap).
// Empty when it can.
std::string poolProblem(const std::string& name, const std::string& firstMac, const std::string& lastMac);

struct PoolStatus {
    std::string name;
    long long first = 0, last = 0;
    long long used = 0;  // handed out: assigned, still reserved or abandoned
    long long free = 0;
};

struct OpenReservation {
    std::string pool, station;
    long long first = 0;
    int count = 0;
    std::string since;  // UTC, "YYYY-MM-DDTHH:MM:SSZ"
};

struct Reservation {
    long long id = 0;  // the block's first address, unique in the database
    long long first = 0;
    int count = 0;
    bool again = false;  // the block of an unfinished run, written again
    std::string holder;  // the run that held it before (again) or holds it
    bool unitsOwn = false;  // the unit's block, bound to it by an earlier run
};

// A unit (a router by its serial) and the block it keeps for life.
struct LineUnit {
    std::string serial, pool;
    long long first = 0;
    int count = 0;
    std::string boundAt;  // UTC, "YYYY-MM-DDTHH:MM:SSZ"
    std::string runId;    // the run that bound it
};

// One connection, used by one thread at a time. It does not reconnect:
// after a failure that lost the server, every call fails until a new
// LineDatabase is opened (LineClient does that, within a deadline).
//
// A block is held by one run at a time: its holder (the run id) and a lease
// on the server's clock. It goes to another run only once its holder is
// gone: the lease ran out (no MAC stage runs that long) or the block was
// released (the run is over without having assigned it).
class LineDatabase {
public:
    // There: the pool is already there exactly as asked (same name, first
    // and last), as when an add whose answer was lost is asked again.
    // Exists: one of that name with another range.
    enum class AddResult { Added, There, Exists, Invalid, Failed };
    // UnitBusy: another run holds the unit's block (its lease is open);
    // UnitSize: the unit's block is of another size (reservation: that block);
    // UnitKnown: a serial just numbered names a unit bound before.
    enum class ReserveResult { Reserved, Exhausted, NoSuchPool, Failed, UnitBusy, UnitSize, UnitKnown };
    // Refused: the database answered no (another holder, a closed block);
    // Failed: no answer, asking again may help.
    enum class AssignResult { Assigned, Refused, Failed };

    // nullptr and a diagnostic (password masked) when the server cannot be reached.
    // timeoutSeconds bounds connecting and, as far as the driver can, every
    // statement and commit on the connection.
    static std::unique_ptr<LineDatabase> open(const std::string& connectionString, int timeoutSeconds,
                                              std::string& diagnostic);
    ~LineDatabase();
    LineDatabase(const LineDatabase&) = delete;
    LineDatabase& operator=(const LineDatabase&) = delete;

    // Creates the tables that are missing; safe to repeat, and when another
    // station does the same at the same moment.
    bool createTables(std::string& diagnostic);

    // Invalid: poolProblem() has one, or the range overlaps another pool.
    AddResult addPool(const std::string& name, const std::string& firstMac, const std::string& lastMac,
                      std::string& diagnostic);

    bool status(std::vector<PoolStatus>& pools, std::vector<OpenReservation>& reservations, std::string& diagnostic);

    // A block of count consecutive addresses for holder (a run id), held for
    // leaseSeconds. The same run asking again gets its block again. An open
    // block of the station's, of this pool and count, whose holder is gone
    // goes to this run (again = true); one of another count whose holder is
    // gone is abandoned for good, and one its gone holder wrote to a router
    // is spent.
    // With a serial, the run is for that unit, in one transaction: a unit
    // already bound gets its own block again (the pool does not move); a
    // new one gets a block as above and is bound to it. A unit's block is
    // never another run's, never abandoned and never spent.
    // newSerial: the serial was just numbered (takeSerialNumber), so a unit
    // already bound with it is another board: UnitKnown, nothing reserved.
    ReserveResult reserve(const std::string& pool, const std::string& station, int count, const std::string& holder,
                          int leaseSeconds, Reservation& reservation, std::string& diagnostic,
                          const std::string& serial = std::string(), bool newSerial = false);

    // The line's next number for serials of this format, taken for good:
    // the counter only moves forward, whether or not the serial is used,
    // so no number is ever given twice. A format the line has not numbered
    // yet starts at start.
    bool takeSerialNumber(const std::string& format, long long start, long long& number, std::string& diagnostic);

    // The run holder is over. Its open block that was written to a router
    // is spent (in spent): never handed out again. One never written may go
    // to another run at once. A unit's block goes back to its unit.
    bool release(const std::string& holder, std::vector<Reservation>& spent, std::string& diagnostic);

    // Before the first write of holder's block to its router: from now on
    // the block may be on a router, and its release spends it. Assigned
    // when marked; Refused when the block is no longer holder's.
    AssignResult markWriting(long long reservationId, const std::string& holder, std::string& diagnostic);

    // Records every address of the block held by runId as written to the
    // router, in one transaction; the block left open when anything goes
    // wrong, such as an address the database already holds. A block that
    // this run already assigned counts as assigned. A unit's block assigned
    // by an earlier run of the unit is assigned to this one instead.
    AssignResult assign(long long reservationId, const std::string& station, const std::string& routerAddress,
                        const std::string& runId, std::string& diagnostic);

    // Keeps a run's record (JSON text) under its run id, replacing one kept
    // before; serial: the unit's the run was for (secrets masked), or empty.
    bool recordRun(const std::string& runId, const std::string& station, const std::string& record,
                   std::string& diagnostic, const std::string& serial = std::string());

    // What the line view reads. Never writes.
    struct StoredRun {
        std::string runId, station, recordedAt, record;
    };
    // Up to runPage runs after the run id `after` in run id order, recorded
    // at or after `since` ("" for any): a reader pages through them all.
    static constexpr int runPage = 2000;
    bool readRuns(const std::string& after, const std::string& since, std::vector<StoredRun>& runs,
                  std::string& diagnostic);
    bool countRuns(long long& count, std::string& diagnostic);
    bool readRun(const std::string& runId, std::optional<StoredRun>& run, std::string& diagnostic);
    struct Assignment {
        long long mac = 0, blockFirst = 0;
        int blockCount = 0;
        std::string pool, station, router, runId, assignedAt;
        // In a block its run wrote and never made its router's (runId: that
        // run; router unknown; assignedAt: when it was spent).
        bool spent = false;
    };
    bool findAssignment(long long mac, std::optional<Assignment>& assignment, std::string& diagnostic);
    struct PoolFigures {
        std::string name;
        long long first = 0, last = 0, free = 0;
        long long assigned = 0;       // addresses of assigned blocks
        long long held = 0;           // of open blocks
        std::vector<long long> assignedSince;  // of blocks assigned at or after each time asked for
    };
    bool poolFigures(const std::vector<std::string>& since, std::vector<PoolFigures>& pools, std::string& diagnostic);
    // The unit of a serial, or the one whose block holds an address; none
    // when there is none.
    bool findUnit(const std::string& serial, std::optional<LineUnit>& unit, std::string& diagnostic);
    bool findUnitHolding(long long mac, std::optional<LineUnit>& unit, std::string& diagnostic);
    // The records of the unit's runs, oldest first.
    bool readUnitRuns(const std::string& serial, std::vector<StoredRun>& runs, std::string& diagnostic);

    // Whether a call failed because the connection is gone (or timed out):
    // a new connection may succeed where this one cannot.
    bool lost() const;

    struct Statements;

private:
    explicit LineDatabase(std::unique_ptr<odbc::Connection> connection);
    // A block from the pool for holder, inside the caller's transaction,
    // which commits it.
    ReserveResult takeBlock(const std::string& pool, const std::string& station, int count, const std::string& holder,
                            int leaseSeconds, Reservation& reservation, std::string& diagnostic);
    ReserveResult reserveForUnit(const std::string& pool, const std::string& station, int count,
                                 const std::string& holder, int leaseSeconds, const std::string& serial,
                                 bool newSerial, Reservation& reservation, std::string& diagnostic);

    std::unique_ptr<odbc::Connection> connection_;
    std::unique_ptr<Statements> statements_;  // prepared once per connection
};

}  // namespace vornix
