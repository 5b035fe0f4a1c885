#pragma once

// A small owner of the ODBC C API for the line database. Only the wide
// entry points are called: Wine's odbc32 implements no narrow ones, and the
// same code runs against unixODBC natively. Handles are released on every
// path; failures come back as one line of text with any password masked.
#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vornix::odbc {

// UTF-8 to UTF-16 and back (SQLWCHAR is 16 bits wide on both platforms).
// A malformed sequence or a lone surrogate becomes U+FFFD.
std::u16string toUtf16(std::string_view utf8);
std::string toUtf8(std::u16string_view utf16);

// The password values of a connection string (PWD= or Password=, any
// letter case, braced or not).
std::vector<std::string> passwordsOf(std::string_view connectionString);

// The text with every password of the connection string replaced by "***":
// each PWD= or Password= value (any letter case, braced or not) and each
// occurrence of the connection string's own password values elsewhere.
std::string maskPasswords(std::string_view text, std::string_view connectionString);

// The connection string handed to the driver: the user's string and, for
// each of psqlODBC's settings below that it does not set itself (any letter
// case, or the setting's short form), our value: CommLog=0 and Debug=0 (no
// driver logs in /tmp), KeepaliveTime, KeepaliveInterval and pqopt with
// libpq's keepalives_count and tcp_user_timeout, scaled to the deadline.
std::string withStationSettings(std::string_view connectionString, int timeoutSeconds);

// Whether the string's own pqopt gives libpq a connect_timeout: psqlODBC
// then refuses a login timeout beside it, so none is set.
bool hasOwnConnectTimeout(std::string_view connectionString);

// A value for one "?" of a prepared statement.
struct Parameter {
    static Parameter text(std::string value) { return {false, std::move(value), 0}; }
    static Parameter integer(long long value) { return {true, {}, value}; }

    bool isInteger;
    std::string textValue;
    long long integerValue;
};

enum class Fetch { Row, End, Failed };

class Connection;

// One prepared statement of a connection; it must not outlive it.
class Statement {
public:
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // Binds the values to the markers in order and runs the statement. The
    // statement can be run again with other values.
    bool execute(const std::vector<Parameter>& parameters, std::string& diagnostic);
    // Rows the last INSERT, UPDATE or DELETE changed.
    bool rowCount(long long& count, std::string& diagnostic);
    Fetch fetch(std::string& diagnostic);
    // Column values of the current row, 1-based; nullopt for SQL NULL.
    bool integer(int column, std::optional<long long>& value, std::string& diagnostic);
    bool text(int column, std::optional<std::string>& value, std::string& diagnostic);
    // Ends reading a result, keeping the statement prepared.
    void close();

private:
    friend class Connection;
    struct Bound;
    Statement(Connection& connection, void* handle);
    std::string diagnostic(const char* what) const;

    Connection& connection_;
    void* handle_;
    std::vector<Bound> bound_;
};

// One connection with autocommit off: every change is part of a transaction
// that ends with commit() or rollback().
class Connection {
public:
    static constexpr int defaultTimeoutSeconds = 10;

    // nullptr and a diagnostic (the connection string masked) when the
    // driver or the server cannot be reached. timeoutSeconds (at least 1)
    // bounds, as far as the driver allows, the login, each statement and the
    // commit after it, and how long a server gone from the network goes
    // unnoticed (see withStationSettings). A server that is there but does
    // not answer (stopped, hung) is not noticed by the driver at all.
    static std::unique_ptr<Connection> open(const std::string& connectionString, int timeoutSeconds,
                                            std::string& diagnostic);
    static std::unique_ptr<Connection> open(const std::string& connectionString, std::string& diagnostic);
    // Rolls back whatever is uncommitted, then disconnects.
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    std::unique_ptr<Statement> prepare(const std::string& sql, std::string& diagnostic);
    // A statement without parameters (table definitions).
    bool executeDirect(const std::string& sql, std::string& diagnostic);
    bool commit(std::string& diagnostic);
    bool rollback(std::string& diagnostic);

    // Whether a call failed because the connection is gone or timed out
    // (the server restarted or shut down, the network or a deadline ran
    // out, the statement was cancelled): a new connection may succeed where
    // this one cannot. It stays true; commit() then refuses. Any thread may ask.
    bool lost() const { return lost_; }

    // Any text that leaves this connection, passwords masked.
    std::string mask(std::string_view text) const { return maskPasswords(text, connectionString_); }

private:
    friend class Statement;
    Connection(std::string connectionString, int timeoutSeconds, void* environment, void* connection);
    bool endTransaction(bool commit, std::string& diagnostic);
    // The diagnostic of a failed call on a handle of this connection, after
    // `what`, masked; notes a lost connection.
    std::string failure(short handleType, void* handle, short rc, const char* what);

    std::string connectionString_;  // as the user gave it, without our settings
    int timeoutSeconds_;
    void* environment_;
    void* connection_;
    std::atomic<bool> lost_{false};
};

// Rolls back on destruction unless committed: every early return of a
// transaction leaves the database as it was.
class Transaction {
public:
    explicit Transaction(Connection& connection) : connection_(connection) {}
    ~Transaction() {
        if (open_) {
            std::string ignored;
            connection_.rollback(ignored);
        }
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    // A failed commit still rolls back at destruction.
    bool commit(std::string& diagnostic) {
        if (!connection_.commit(diagnostic)) return false;
        open_ = false;
        return true;
    }

private:
    Connection& connection_;
    bool open_ = true;
};

}  // namespace vornix::odbc
