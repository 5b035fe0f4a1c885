// The ODBC layer on its own: the settings it adds to a connection string,
// and, against a real PostgreSQL server through unixODBC and psqlODBC (ports
// 5442-5445), its deadlines, a lost connection told apart from a failed
// statement, and no driver log in /tmp.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "records/Odbc.h"
#include "support/PostgresServer.h"
#include "support/TempDir.h"

namespace vornix::odbc {
namespace {

const std::string password = test::PostgresServer::password;

TEST(OdbcSettings, AreAddedOnlyWhereTheStringDoesNotSetThem) {
    const std::string ours = "CommLog=0;Debug=0;KeepaliveTime=5;KeepaliveInterval=2;"
                             "pqopt={keepalives_count=3 tcp_user_timeout=10000};";
    const struct {
        std::string given;
        int timeout;
        std::string sent;
    } cases[] = {
        {"Driver={PostgreSQL Unicode};Server=db;", 10, "Driver={PostgreSQL Unicode};Server=db;" + ours},
        {"Driver={PostgreSQL Unicode};Server=db  ", 10, "Driver={PostgreSQL Unicode};Server=db;" + ours},
        {"", 10, ours},
        // Set by the user in any letter case, or in the short form: left alone.
        {"DSN=line;commlog=1;DEBUG=2", 10,
         "DSN=line;commlog=1;DEBUG=2;KeepaliveTime=5;KeepaliveInterval=2;"
         "pqopt={keepalives_count=3 tcp_user_timeout=10000};"},
        {"DSN=line;B3=1;B2=1;D1=7;D2=3;", 10, "DSN=line;B3=1;B2=1;D1=7;D2=3;pqopt={keepalives_count=3 tcp_user_timeout=10000};"},
        {"DSN=line; KeepaliveTime = 60 ;pqopt={sslmode=require}", 10,
         "DSN=line; KeepaliveTime = 60 ;pqopt={sslmode=require};CommLog=0;Debug=0;KeepaliveInterval=2;"},
        // Keywords inside a braced value are no keywords.
        {"DSN=line;Pwd={x;CommLog=1;pqopt=}}}", 10, "DSN=line;Pwd={x;CommLog=1;pqopt=}}};" + ours},
        // The settings follow the deadline; a second is the least.
        {"DSN=line;", 60,
         "DSN=line;CommLog=0;Debug=0;KeepaliveTime=30;KeepaliveInterval=12;"
         "pqopt={keepalives_count=3 tcp_user_timeout=60000};"},
        {"DSN=line;", 0,
         "DSN=line;CommLog=0;Debug=0;KeepaliveTime=1;KeepaliveInterval=1;"
         "pqopt={keepalives_count=3 tcp_user_timeout=1000};"},
    };
    for (const auto& c : cases) EXPECT_EQ(withStationSettings(c.given, c.timeout), c.sent) << c.given;
    const std::string user = "Uid=a;Pwd={p;w}}d}";
    EXPECT_EQ(maskPasswords(withStationSettings(user, 10), user), "Uid=a;Pwd=***;" + ours);
}

// A server of the test's own and the string that reaches it.
class OdbcServerTest : public ::testing::Test {
protected:
    void startServer(int port) {
        server_ = std::make_unique<test::PostgresServer>(port);
        ASSERT_TRUE(server_->ready()) << "this test needs PostgreSQL (scripts/install-deps): " << server_->failure();
    }
    std::unique_ptr<Connection> connect(int timeoutSeconds, const std::string& extra = "") {
        std::string diagnostic;
        auto connection = Connection::open(server_->connectionString() + extra, timeoutSeconds, diagnostic);
        EXPECT_TRUE(connection) << diagnostic;
        return connection;
    }

    std::unique_ptr<test::PostgresServer> server_;
};

TEST_F(OdbcServerTest, ALostConnectionIsToldApartFromAFailedStatement) {
    ASSERT_NO_FATAL_FAILURE(startServer(5442));
    auto connection = connect(10);
    ASSERT_TRUE(connection);
    std::string diagnostic;
    EXPECT_FALSE(connection->executeDirect("SELEC 1", diagnostic));
    EXPECT_FALSE(connection->lost()) << diagnostic;
    auto statement = connection->prepare("SELECT 1", diagnostic);
    ASSERT_TRUE(statement) << diagnostic;
    ASSERT_TRUE(statement->execute({}, diagnostic)) << diagnostic;
    statement->close();
    ASSERT_TRUE(connection->commit(diagnostic)) << diagnostic;

    ASSERT_TRUE(server_->stop());
    ASSERT_TRUE(server_->start());
    EXPECT_FALSE(statement->execute({}, diagnostic));
    EXPECT_TRUE(connection->lost()) << diagnostic;
    EXPECT_EQ(diagnostic.find(password), std::string::npos) << diagnostic;
    // The driver itself would call this commit a success.
    EXPECT_FALSE(connection->commit(diagnostic));

    auto again = connect(10);
    ASSERT_TRUE(again);
    EXPECT_TRUE(again->executeDirect("SELECT 1", diagnostic)) << diagnostic;
    EXPECT_FALSE(again->lost());
}

TEST_F(OdbcServerTest, TheDeadlineEndsALoginAndAStatementThatGetNoAnswer) {
    // Something takes the connection and never says a word.
    const int silent = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(5443);
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int one = 1;
    ::setsockopt(silent, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
    ASSERT_EQ(::listen(silent, 4), 0);
    std::string diagnostic;
    EXPECT_FALSE(Connection::open("Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=5443;Database=x;Uid=x;Pwd=" +
                                      password + ";",
                                  1, diagnostic));
    ::close(silent);
    EXPECT_NE(diagnostic.find("\": 08001 "), std::string::npos) << diagnostic;
    EXPECT_EQ(diagnostic.find(password), std::string::npos) << diagnostic;

    ASSERT_NO_FATAL_FAILURE(startServer(5444));
    auto connection = connect(1);
    ASSERT_TRUE(connection);
    EXPECT_FALSE(connection->executeDirect("SELECT pg_sleep(60)", diagnostic));
    EXPECT_NE(diagnostic.find("57014"), std::string::npos) << diagnostic;
    EXPECT_TRUE(connection->lost());
    // The string's own libpq connect timeout stands instead of ours.
    EXPECT_TRUE(connect(1, "pqopt={connect_timeout=5};"));
}

// The driver's log files of this process: name and size.
std::map<std::string, std::uintmax_t> driverLogs() {
    const std::string suffix = std::to_string(::getpid()) + ".log";
    std::map<std::string, std::uintmax_t> logs;
    for (const auto& entry : std::filesystem::directory_iterator("/tmp")) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("psqlodbc_", 0) == 0 && name.size() > suffix.size() + 9 &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0 &&
            !std::isdigit(static_cast<unsigned char>(name[name.size() - suffix.size() - 1])))
            logs[entry.path().string()] = entry.file_size();
    }
    return logs;
}

TEST_F(OdbcServerTest, NoDriverLogEvenWhenTheDataSourceAsksForOne) {
    ASSERT_NO_FATAL_FAILURE(startServer(5445));
    test::TempDir dir;
    dir.write("odbc.ini", "[vornix-line]\nDriver=PostgreSQL Unicode\nServername=127.0.0.1\nPort=5445\n"
                          "Database=vornix_line\nCommLog=1\n");
    ::setenv("ODBCINI", dir.file("odbc.ini").c_str(), 1);
    const auto before = driverLogs();
    {
        std::string diagnostic;
        auto connection = Connection::open("DSN=vornix-line;Uid=vornix_line;Pwd=" + password, 10, diagnostic);
        ASSERT_TRUE(connection) << diagnostic;
        EXPECT_TRUE(connection->executeDirect("SELECT 1", diagnostic)) << diagnostic;
        EXPECT_EQ(driverLogs(), before);
    }
    ::unsetenv("ODBCINI");
    // Nor once it is closed: the tests' registration of the driver has its
    // log off (Debian's would have it write a line here).
    EXPECT_EQ(driverLogs(), before);
}

}  // namespace
}  // namespace vornix::odbc
