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
    bool again = false;  // the station's own open block, handed back
};

// One connection, used by one thread at a time. It does not reconnect:
// after a failure that lost the server, every call fails until a new
// LineDatabase is opened.
class LineDatabase {
public:
    enum class AddResult { Added, Exists, Invalid, Failed };
    enum class ReserveResult { Reserved, Exhausted, NoSuchPool, Failed };

    // nullptr and a diagnostic (password masked) when the server cannot be reached.
    static std::unique_ptr<LineDatabase> open(const std::string& connectionString, std::string& diagnostic);
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

    // A block of count consecutive addresses for one router. A station that
    // still holds an open block of this pool gets it again when the count is
    // the same; one of another count is abandoned for good.
    ReserveResult reserve(const std::string& pool, const std::string& station, int count, Reservation& reservation,
                          std::string& diagnostic);

    // Records every address of the station's open block as written to the
    // router, in one transaction; false (the block left open) when anything
    // goes wrong, such as an address the database already holds.
    bool assign(long long reservationId, const std::string& station, const std::string& routerAddress,
                const std::string& runId, std::string& diagnostic);

    // Keeps a run's record (JSON text) under its run id.
    bool recordRun(const std::string& runId, const std::string& station, const std::string& record,
                   std::string& diagnostic);

    struct Statements;

private:
    explicit LineDatabase(std::unique_ptr<odbc::Connection> connection);

    std::unique_ptr<odbc::Connection> connection_;
    std::unique_ptr<Statements> statements_;  // prepared once per connection
};

}  // namespace vornix
