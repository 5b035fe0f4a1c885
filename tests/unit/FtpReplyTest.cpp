// The FTP server's replies as the station reads them: whole replies of one
// line or several, taken one at a time, and the size in a SIZE reply.
#include <gtest/gtest.h>

#include "link/FtpSize.h"

namespace vornix {
namespace {

TEST(FtpReply, TakesOneWholeReplyAtATime) {
    const struct {
        const char* what;
        std::string received;
        ftp::Taken taken;
        int code;
        std::string line, left;
    } cases[] = {
        {"one line", "220 ready\r\n", ftp::Taken::reply, 220, "220 ready", ""},
        {"two replies in one receive", "331 pass\r\n230 in\r\n", ftp::Taken::reply, 331, "331 pass", "230 in\r\n"},
        {"several lines, the last with a blank", "220-Hello\r\n there\r\n220-more\r\n221 other\r\n220 ready\r\nx",
         ftp::Taken::reply, 220, "220 ready", "x"},
        {"a bare line feed", "213 5\n", ftp::Taken::reply, 213, "213 5", ""},
        {"line not ended", "220 rea", ftp::Taken::incomplete, 0, "", "220 rea"},
        {"several lines, last not there", "220-Hello\r\n220", ftp::Taken::incomplete, 0, "", "220-Hello\r\n220"},
        {"no code", "hello\r\n", ftp::Taken::malformed, 0, "", "hello\r\n"},
        {"endless line", std::string(ftp::maxReplyBytes + 1, '2'), ftp::Taken::malformed, 0, "",
         std::string(ftp::maxReplyBytes + 1, '2')},
        {"endless reply", "220-" + std::string(ftp::maxReplyBytes, '\n'), ftp::Taken::malformed, 0, "",
         "220-" + std::string(ftp::maxReplyBytes, '\n')},
    };
    for (const auto& c : cases) {
        std::string received = c.received;
        ftp::Reply reply;
        EXPECT_EQ(ftp::takeReply(received, reply), c.taken) << c.what;
        EXPECT_EQ(reply.code, c.code) << c.what;
        EXPECT_EQ(reply.line, c.line) << c.what;
        EXPECT_EQ(received, c.left) << c.what;
    }
}

TEST(FtpReply, SizeOnlyFromA213WithDigits) {
    const struct {
        int code;
        const char* line;
        std::optional<std::uint64_t> size;
    } cases[] = {
        {213, "213 65536", 65536},
        {213, "213 9999999999999999999", 9999999999999999999ull},
        {213, "213 99999999999999999999", std::nullopt},
        {213, "213 ", std::nullopt},
        {213, "213  65536", std::nullopt},
        {213, "213 65536 bytes", std::nullopt},
        {550, "550 65536", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(ftp::sizeIn({c.code, c.line}), c.size) << c.line;
}

}  // namespace
}  // namespace vornix
