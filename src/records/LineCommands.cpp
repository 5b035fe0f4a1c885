#include "records/LineCommands.h"

#include <algorithm>
#include <memory>

#include "config/StationConfig.h"
#include "records/LineClient.h"
#include "records/LineDatabase.h"
#include "records/Odbc.h"

namespace vornix {

const char lineCommandUsage[] =
    "Line database set-up ([LINE] Database in setup.ini):\n"
    "  --line-init                  create the line database's tables (safe to repeat)\n"
    "  --pool-add NAME FIRST LAST   add a pool of MAC addresses FIRST..LAST (XX:XX:XX:XX:XX:XX,\n"
    "                               the first three octets equal)\n"
    "  --pool-status                the pools and each station's open reservation\n";

std::string lineStation(Profile& profile, const std::string& hostName) {
    const std::string station = StationConfig(profile).read(keys::lineStation).text;
    return station.empty() ? hostName : station;
}

bool isLineCommand(const std::string& arg) {
    return arg == "--line-init" || arg == "--pool-add" || arg == "--pool-status";
}

namespace {

// Columns line up by characters, not bytes: names may be UTF-8.
std::size_t width(const std::string& text) {
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

using Row = std::vector<std::string>;

// A table with a heading row; columns flagged in `right` are numbers.
void printTable(std::FILE* out, const std::vector<Row>& rows, const std::vector<bool>& right) {
    std::vector<std::size_t> widths(right.size(), 0);
    for (const Row& row : rows)
        for (std::size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], width(row[c]));
    for (const Row& row : rows) {
        std::string line;
        for (std::size_t c = 0; c < row.size(); ++c) {
            const std::string pad(widths[c] - width(row[c]), ' ');
            line += "  ";
            line += right[c] ? pad + row[c] : (c + 1 < row.size() ? row[c] + pad : row[c]);
        }
        std::fprintf(out, "%s\n", line.c_str());
    }
}

int usageError(std::FILE* err, const std::string& problem) {
    std::fprintf(err, "vornix-cli: %s\n", problem.c_str());
    return 2;
}

int failure(std::FILE* err, const std::string& problem) {
    std::fprintf(err, "vornix-cli: %s\n", problem.c_str());
    return 1;
}

void printStatus(std::FILE* out, const std::vector<PoolStatus>& pools,
                 const std::vector<OpenReservation>& reservations) {
    std::fprintf(out, "Pools:\n");
    if (pools.empty()) {
        std::fprintf(out, "  (none)\n");
    } else {
        std::vector<Row> rows{{"pool", "range", "used", "free"}};
        for (const PoolStatus& pool : pools)
            rows.push_back({pool.name, formatMac(pool.first) + " - " + formatMac(pool.last), std::to_string(pool.used),
                            std::to_string(pool.free)});
        printTable(out, rows, {false, false, true, true});
    }
    std::fprintf(out, "Open reservations:\n");
    if (reservations.empty()) {
        std::fprintf(out, "  (none)\n");
    } else {
        std::vector<Row> rows{{"station", "pool", "first", "count", "since"}};
        for (const OpenReservation& open : reservations)
            rows.push_back(
                {open.station, open.pool, formatMac(open.first), std::to_string(open.count), open.since});
        printTable(out, rows, {false, false, false, true, false});
    }
}

}  // namespace

int lineCommand(const std::vector<std::string>& args, Profile& profile, std::FILE* out, std::FILE* err) {
    if (args.empty() || !isLineCommand(args[0]))
        return usageError(err, "unknown line command: " + (args.empty() ? std::string() : args[0]));
    const std::string& command = args[0];
    if (command == "--pool-add") {
        if (args.size() != 4) return usageError(err, "usage: vornix-cli --pool-add NAME FIRST LAST");
        const std::string problem = poolProblem(args[1], args[2], args[3]);
        if (!problem.empty()) return usageError(err, "--pool-add: " + problem);
    } else if (args.size() != 1) {
        return usageError(err, "usage: vornix-cli " + command + " (no arguments)");
    }

    const std::string connectionString = StationConfig(profile).read(keys::lineDatabase).text;
    if (connectionString.empty())
        return failure(err, "[LINE] Database is not set in setup.ini: it holds the line database's ODBC connection string");
    // The command's work runs within the line's timeout like a station's.
    struct Result {
        std::vector<PoolStatus> pools;
        std::vector<OpenReservation> reservations;
        bool poolThere = false;
    };
    auto result = std::make_shared<Result>();
    LineClient client(connectionString, std::string(), StationConfig(profile).readDecimal(keys::lineTimeout));
    const LineClient::Answer answer = client.call([result, args](LineDatabase& db) -> LineClient::Answer {
        std::string diagnostic;
        bool done = false;
        if (args[0] == "--line-init") {
            done = db.createTables(diagnostic);
        } else if (args[0] == "--pool-add") {
            const LineDatabase::AddResult added = db.addPool(args[1], args[2], args[3], diagnostic);
            if (added == LineDatabase::AddResult::Exists || added == LineDatabase::AddResult::Invalid)
                return {LineClient::Status::Refused, diagnostic};
            result->poolThere = added == LineDatabase::AddResult::There;
            done = added == LineDatabase::AddResult::Added || result->poolThere;
        } else {
            done = db.status(result->pools, result->reservations, diagnostic);
        }
        return {done ? LineClient::Status::Done : LineClient::Status::Failed, diagnostic};
    });
    if (answer.status == LineClient::Status::Unanswered)
        return failure(err, "no answer from the line database within " + std::to_string(client.timeoutSeconds()) + " s");
    if (answer.status != LineClient::Status::Done) return failure(err, answer.diagnostic);

    if (command == "--line-init") {
        std::fprintf(out, "line database ready: vornix_pool, vornix_reservation, vornix_assignment, vornix_run, "
                          "vornix_lock, vornix_unit\n");
        return 0;
    }
    if (command == "--pool-add") {
        const long long first = *parseMac(args[2]), last = *parseMac(args[3]);
        // Already there as asked (an add whose answer was lost, asked again): done all the same.
        std::fprintf(out, "pool %s %s: %s - %s, %lld addresses\n", args[1].c_str(),
                     result->poolThere ? "is already there" : "added", formatMac(first).c_str(),
                     formatMac(last).c_str(), last - first + 1);
        return 0;
    }
    printStatus(out, result->pools, result->reservations);
    return 0;
}

}  // namespace vornix
