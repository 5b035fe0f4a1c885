#pragma once

// What the line database's files share: prepared statements, the cursor over
// one, the server's clock and the names the tables can hold. For
// records/Line*.cpp only.
#include <map>
#include <optional>
#include <memory>
#include <string>
#include <vector>

#include "records/LineDatabase.h"
#include "records/Odbc.h"

namespace vornix {

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

namespace linedb {

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

// Runs one statement, ready for its rows.
inline Cursor run(LineDatabase::Statements& statements, const char* sql, const std::vector<odbc::Parameter>& parameters,
                  std::string& diagnostic) {
    odbc::Statement* statement = statements.get(sql, diagnostic);
    if (!statement || !statement->execute(parameters, diagnostic)) return Cursor();
    return Cursor(statement);
}

// Runs an INSERT, UPDATE or DELETE and tells how many rows it changed.
inline bool change(LineDatabase::Statements& statements, const char* sql,
                   const std::vector<odbc::Parameter>& parameters, long long& rows, std::string& diagnostic) {
    const Cursor statement = run(statements, sql, parameters, diagnostic);
    return statement && statement->rowCount(rows, diagnostic);
}

// Now in UTC, whole seconds: the tables keep "YYYY-MM-DDTHH:MM:SSZ".
std::string utcNow();
// A name the tables can hold and a status table can show.
bool validName(const std::string& name, std::size_t maxLength);
// Why it is not one: WHAT is empty, too long, or holds a control character.
std::string nameProblem(const char* what, const std::string& name, std::size_t maxLength);

// The unit of a serial (mac < 0) or the one whose block holds mac, inside
// the caller's transaction, if any.
bool readUnit(LineDatabase::Statements& statements, const std::string& serial, long long mac,
              std::optional<LineUnit>& unit, std::string& problem);

}  // namespace linedb
}  // namespace vornix
