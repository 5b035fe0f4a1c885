#include "records/Odbc.h"

// The ODBC headers need the Windows types first on Windows.
#ifdef _WIN32
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <mutex>

namespace vornix::odbc {

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "SQLWCHAR must be a 16-bit unit");

// ---------------------------------------------------------------- text and diagnostics at the entry points

namespace {

std::vector<SQLWCHAR> wide(std::string_view utf8) {
    const std::u16string text = toUtf16(utf8);
    std::vector<SQLWCHAR> out(text.begin(), text.end());
    out.push_back(0);
    return out;
}

std::string narrow(const SQLWCHAR* text, std::size_t length) {
    return toUtf8(std::u16string(text, text + length));
}

bool succeeded(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

// Class 08 is the connection's own; 57P01-57P03 a server shutting down or
// restarting (psqlODBC reports a restart as 57P01 on the first statement
// after it, 08S01 on the rest); 57014 the statement timeout that psqlODBC
// turns a query timeout into, or a cancel; HYT00 and HYT01 other drivers'
// timeouts.
bool meansConnectionLost(const std::string& state) {
    return state.compare(0, 2, "08") == 0 || state == "57P01" || state == "57P02" || state == "57P03" ||
           state == "57014" || state == "HYT00" || state == "HYT01";
}

// Every diagnostic record of a handle on one line: "STATE message / ...".
// *gone (when given) becomes true if a record's state says the connection
// is lost or timed out.
std::string describe(SQLSMALLINT type, SQLHANDLE handle, SQLRETURN rc, bool* gone = nullptr) {
    std::string line;
    for (SQLSMALLINT record = 1; handle != SQL_NULL_HANDLE; ++record) {
        SQLWCHAR state[6] = {};
        SQLINTEGER native = 0;
        std::vector<SQLWCHAR> message(512);
        SQLSMALLINT length = 0;
        SQLRETURN got = SQLGetDiagRecW(type, handle, record, state, &native, message.data(),
                                       static_cast<SQLSMALLINT>(message.size()), &length);
        if (got == SQL_SUCCESS_WITH_INFO && length >= static_cast<SQLSMALLINT>(message.size())) {
            message.resize(static_cast<std::size_t>(length) + 1);
            got = SQLGetDiagRecW(type, handle, record, state, &native, message.data(),
                                 static_cast<SQLSMALLINT>(message.size()), &length);
        }
        if (!succeeded(got)) break;
        const std::size_t chars = std::min<std::size_t>(static_cast<std::size_t>(std::max<SQLSMALLINT>(length, 0)),
                                                        message.size() - 1);
        if (!line.empty()) line += " / ";
        line += narrow(state, 5) + " " + narrow(message.data(), chars);
        if (gone && meansConnectionLost(narrow(state, 5))) *gone = true;
    }
    if (line.empty()) line = "no diagnostic from the driver (return code " + std::to_string(rc) + ")";
    // One line, whatever the driver put into its messages.
    std::string flat;
    for (char c : line) {
        const bool space = c == '\r' || c == '\n' || c == '\t';
        if (space && (flat.empty() || flat.back() == ' ')) continue;
        flat.push_back(space ? ' ' : c);
    }
    while (!flat.empty() && flat.back() == ' ') flat.pop_back();
    return flat;
}

SQLPOINTER number(SQLULEN value) { return reinterpret_cast<SQLPOINTER>(value); }

}  // namespace

// ---------------------------------------------------------------- Connection

Connection::Connection(std::string connectionString, int timeoutSeconds, void* environment, void* connection)
    : connectionString_(std::move(connectionString)),
      timeoutSeconds_(timeoutSeconds),
      environment_(environment),
      connection_(connection) {}

std::unique_ptr<Connection> Connection::open(const std::string& connectionString, std::string& diagnostic) {
    return open(connectionString, defaultTimeoutSeconds, diagnostic);
}

std::unique_ptr<Connection> Connection::open(const std::string& connectionString, int timeoutSeconds,
                                             std::string& diagnostic) {
    timeoutSeconds = std::max(timeoutSeconds, 1);
    const std::string where = "cannot connect to \"" + maskPasswords(connectionString, connectionString) + "\": ";
    SQLHENV environment = SQL_NULL_HENV;
    SQLRETURN rc = SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &environment);
    if (!succeeded(rc)) {
        diagnostic = where + "the ODBC driver manager cannot be used (return code " + std::to_string(rc) + ")";
        return nullptr;
    }
    rc = SQLSetEnvAttr(environment, SQL_ATTR_ODBC_VERSION, number(SQL_OV_ODBC3), 0);
    SQLHDBC connection = SQL_NULL_HDBC;
    if (succeeded(rc)) rc = SQLAllocHandle(SQL_HANDLE_DBC, environment, &connection);
    if (!succeeded(rc)) {
        diagnostic = maskPasswords(where + describe(SQL_HANDLE_ENV, environment, rc), connectionString);
        SQLFreeHandle(SQL_HANDLE_ENV, environment);
        return nullptr;
    }
    // Not every driver knows these; they only shorten the wait. psqlODBC
    // hands the login timeout to libpq as connect_timeout (which covers the
    // whole login) and ignores the connection timeout.
    const auto seconds = static_cast<SQLULEN>(timeoutSeconds);
    if (!hasOwnConnectTimeout(connectionString))
        SQLSetConnectAttrW(connection, SQL_ATTR_LOGIN_TIMEOUT, number(seconds), 0);
    SQLSetConnectAttrW(connection, SQL_ATTR_CONNECTION_TIMEOUT, number(seconds), 0);
    std::vector<SQLWCHAR> text = wide(withStationSettings(connectionString, timeoutSeconds));
    {
        // psqlODBC switches the process's locale while it connects: two
        // connections opened at once by two threads would race in it.
        static std::mutex connecting;
        const std::lock_guard<std::mutex> one(connecting);
        rc = SQLDriverConnectW(connection, nullptr, text.data(), static_cast<SQLSMALLINT>(text.size() - 1), nullptr,
                               0, nullptr, SQL_DRIVER_NOPROMPT);
    }
    std::fill(text.begin(), text.end(), SQLWCHAR(0));
    if (succeeded(rc)) {
        rc = SQLSetConnectAttrW(connection, SQL_ATTR_AUTOCOMMIT, number(SQL_AUTOCOMMIT_OFF), 0);
        if (!succeeded(rc)) {
            diagnostic = maskPasswords("cannot turn autocommit off: " + describe(SQL_HANDLE_DBC, connection, rc),
                                       connectionString);
            SQLDisconnect(connection);
        }
    } else {
        diagnostic = maskPasswords(where + describe(SQL_HANDLE_DBC, connection, rc), connectionString);
    }
    if (!succeeded(rc)) {
        SQLFreeHandle(SQL_HANDLE_DBC, connection);
        SQLFreeHandle(SQL_HANDLE_ENV, environment);
        return nullptr;
    }
    return std::unique_ptr<Connection>(new Connection(connectionString, timeoutSeconds, environment, connection));
}

Connection::~Connection() {
    SQLEndTran(SQL_HANDLE_DBC, connection_, SQL_ROLLBACK);
    SQLDisconnect(connection_);
    SQLFreeHandle(SQL_HANDLE_DBC, connection_);
    SQLFreeHandle(SQL_HANDLE_ENV, environment_);
}

std::unique_ptr<Statement> Connection::prepare(const std::string& sql, std::string& diagnostic) {
    SQLHSTMT handle = SQL_NULL_HSTMT;
    SQLRETURN rc = SQLAllocHandle(SQL_HANDLE_STMT, connection_, &handle);
    if (!succeeded(rc)) {
        diagnostic = failure(SQL_HANDLE_DBC, connection_, rc, "");
        return nullptr;
    }
    std::unique_ptr<Statement> statement(new Statement(*this, handle));
    std::vector<SQLWCHAR> text = wide(sql);
    rc = SQLPrepareW(handle, text.data(), static_cast<SQLINTEGER>(text.size() - 1));
    if (!succeeded(rc)) {
        diagnostic = statement->diagnostic("prepare");
        return nullptr;
    }
    return statement;
}

bool Connection::executeDirect(const std::string& sql, std::string& diagnostic) {
    SQLHSTMT handle = SQL_NULL_HSTMT;
    SQLRETURN rc = SQLAllocHandle(SQL_HANDLE_STMT, connection_, &handle);
    if (!succeeded(rc)) {
        diagnostic = failure(SQL_HANDLE_DBC, connection_, rc, "");
        return false;
    }
    Statement statement(*this, handle);
    std::vector<SQLWCHAR> text = wide(sql);
    rc = SQLExecDirectW(handle, text.data(), static_cast<SQLINTEGER>(text.size() - 1));
    if (succeeded(rc) || rc == SQL_NO_DATA) return true;
    diagnostic = statement.diagnostic("execute");
    return false;
}

bool Connection::endTransaction(bool commit, std::string& diagnostic) {
    // psqlODBC answers a commit on a connection it has lost with success,
    // though nothing reached the server.
    if (commit && lost_) {
        diagnostic = "commit: refused, the connection was lost or timed out before it";
        return false;
    }
    const SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, connection_, commit ? SQL_COMMIT : SQL_ROLLBACK);
    if (succeeded(rc)) return true;
    diagnostic = failure(SQL_HANDLE_DBC, connection_, rc, commit ? "commit: " : "rollback: ");
    return false;
}

std::string Connection::failure(short handleType, void* handle, short rc, const char* what) {
    bool gone = false;
    std::string line = describe(handleType, handle, rc, &gone);
    SQLULEN dead = SQL_CD_FALSE;
    if (gone || (succeeded(SQLGetConnectAttrW(connection_, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr)) &&
                 dead == SQL_CD_TRUE))
        lost_ = true;
    return mask(what + line);
}

bool Connection::commit(std::string& diagnostic) { return endTransaction(true, diagnostic); }
bool Connection::rollback(std::string& diagnostic) { return endTransaction(false, diagnostic); }

// ---------------------------------------------------------------- Statement

// A parameter's value where the driver reads it at execution.
struct Statement::Bound {
    std::vector<SQLWCHAR> text;
    SQLBIGINT integer = 0;
    SQLLEN indicator = 0;
};

Statement::Statement(Connection& connection, void* handle) : connection_(connection), handle_(handle) {
    // psqlODBC sets the server's statement_timeout from it before running the
    // statement; the session keeps it, so it bounds the commit after it too.
    SQLSetStmtAttrW(handle_, SQL_ATTR_QUERY_TIMEOUT, number(static_cast<SQLULEN>(connection.timeoutSeconds_)), 0);
}

Statement::~Statement() {
    SQLFreeStmt(handle_, SQL_CLOSE);
    SQLFreeHandle(SQL_HANDLE_STMT, handle_);
}

std::string Statement::diagnostic(const char* what) const {
    return connection_.failure(SQL_HANDLE_STMT, handle_, SQL_ERROR, (std::string(what) + ": ").c_str());
}

bool Statement::execute(const std::vector<Parameter>& parameters, std::string& diagnostic) {
    SQLFreeStmt(handle_, SQL_CLOSE);
    SQLFreeStmt(handle_, SQL_RESET_PARAMS);
    bound_.clear();
    bound_.resize(parameters.size());
    for (std::size_t i = 0; i < parameters.size(); ++i) {
        Bound& bound = bound_[i];
        const auto marker = static_cast<SQLUSMALLINT>(i + 1);
        SQLRETURN rc;
        if (parameters[i].isInteger) {
            bound.integer = parameters[i].integerValue;
            rc = SQLBindParameter(handle_, marker, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0, &bound.integer, 0,
                                  &bound.indicator);
        } else {
            bound.text = wide(parameters[i].textValue);
            const std::size_t chars = bound.text.size() - 1;
            bound.indicator = static_cast<SQLLEN>(chars * sizeof(SQLWCHAR));
            rc = SQLBindParameter(handle_, marker, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR,
                                  std::max<SQLULEN>(chars, 1), 0, bound.text.data(),
                                  static_cast<SQLLEN>(bound.text.size() * sizeof(SQLWCHAR)), &bound.indicator);
        }
        if (!succeeded(rc)) {
            diagnostic = this->diagnostic("bind");
            return false;
        }
    }
    const SQLRETURN rc = SQLExecute(handle_);
    if (succeeded(rc) || rc == SQL_NO_DATA) return true;
    diagnostic = this->diagnostic("execute");
    // psqlODBC keeps a failed prepared execution's result until the
    // statement is closed; freeing the handle alone loses it.
    SQLFreeStmt(handle_, SQL_CLOSE);
    return false;
}

void Statement::close() { SQLFreeStmt(handle_, SQL_CLOSE); }

bool Statement::rowCount(long long& count, std::string& diagnostic) {
    SQLLEN rows = 0;
    if (!succeeded(SQLRowCount(handle_, &rows))) {
        diagnostic = this->diagnostic("row count");
        return false;
    }
    count = rows;
    return true;
}

Fetch Statement::fetch(std::string& diagnostic) {
    const SQLRETURN rc = SQLFetch(handle_);
    if (succeeded(rc)) return Fetch::Row;
    if (rc == SQL_NO_DATA) return Fetch::End;
    diagnostic = this->diagnostic("fetch");
    return Fetch::Failed;
}

bool Statement::integer(int column, std::optional<long long>& value, std::string& diagnostic) {
    SQLBIGINT number = 0;
    SQLLEN indicator = 0;
    const SQLRETURN rc =
        SQLGetData(handle_, static_cast<SQLUSMALLINT>(column), SQL_C_SBIGINT, &number, sizeof number, &indicator);
    if (!succeeded(rc)) {
        diagnostic = this->diagnostic("read");
        return false;
    }
    value = indicator == SQL_NULL_DATA ? std::nullopt : std::optional<long long>(number);
    return true;
}

bool Statement::text(int column, std::optional<std::string>& value, std::string& diagnostic) {
    // Long values arrive in parts, each ended by a terminator in the buffer.
    SQLWCHAR buffer[256];
    const std::size_t room = sizeof buffer / sizeof buffer[0] - 1;
    std::u16string collected;
    for (;;) {
        SQLLEN indicator = 0;
        const SQLRETURN rc =
            SQLGetData(handle_, static_cast<SQLUSMALLINT>(column), SQL_C_WCHAR, buffer, sizeof buffer, &indicator);
        if (rc == SQL_NO_DATA) break;
        if (!succeeded(rc)) {
            diagnostic = this->diagnostic("read");
            return false;
        }
        if (indicator == SQL_NULL_DATA) {
            value.reset();
            return true;
        }
        std::size_t chars = room;
        if (indicator != SQL_NO_TOTAL) chars = std::min(room, static_cast<std::size_t>(indicator) / sizeof(SQLWCHAR));
        collected.append(buffer, buffer + chars);
        if (rc == SQL_SUCCESS) break;
    }
    value = toUtf8(collected);
    return true;
}

}  // namespace vornix::odbc
