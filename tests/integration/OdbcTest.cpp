// The ODBC layer on its own: the settings it adds to a connection string.
#include <gtest/gtest.h>

#include "records/Odbc.h"
#include "support/PostgresServer.h"

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

}  // namespace
}  // namespace vornix::odbc
