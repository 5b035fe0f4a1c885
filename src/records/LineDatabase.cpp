#include "records/LineDatabase.h"

#include <cctype>
#include <chrono>
#include <cstdio>

#include "records/UtcTime.h"
#include "records/LineStatements.h"

// The connection and the addresses. The other jobs each have a file:
// LineSchema (the tables and their upgrades), LinePools (pools and
// reservations), LineRunStore (the run store), LineViewReads (what the line
// view reads). The statements keep to what PostgreSQL, SQL Server and MySQL
// all accept: no RETURNING, no ON CONFLICT, no generated keys, no IF NOT
// EXISTS, times as UTC text. Every value from outside is a bound parameter.
namespace vornix {

using linedb::nameProblem;
using linedb::validName;

namespace linedb {

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

}  // namespace linedb

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

}  // namespace vornix
