// The station's size query against Debian's pyftpdlib: the size in binary
// mode, and each way it fails with a reason that never holds the password.
#include <gtest/gtest.h>

#include "link/FtpSize.h"
#include "support/FtpServer.h"
#include "support/TempDir.h"

namespace vornix {
namespace {

TEST(FtpSize, AsksTheServerAndSaysWhyNot) {
    test::TempDir dir;
    // Line ends in it: in ASCII mode the server would count otherwise, or refuse.
    dir.write("u-boot.bin", std::string(70000, '\n'));
    test::FtpServer ftp("127.0.0.186", 21, "station", "s3cret", dir.file(""));
    ASSERT_TRUE(ftp.ready()) << "no FTP server (python3-pyftpdlib, installed by scripts/install-deps)";
    // Accepts connections (the system does) and never says a word.
    const int silent = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(21);
    at.sin_addr.s_addr = inet_addr("127.0.0.187");
    ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
    ASSERT_EQ(::listen(silent, 4), 0);

    const struct {
        const char* host;
        FtpSize::Account account;
        const char* path;
        std::optional<std::uint64_t> size;
        const char* why;
        int timeoutMs = 20000;  // only the silent server's runs out
    } cases[] = {
        {"127.0.0.186", {"station", "s3cret"}, "u-boot.bin", 70000, ""},
        {"127.0.0.186", {"station", "s3cret"}, "none.bin", std::nullopt, "SIZE answered 550 /none.bin is not retrievable."},
        {"127.0.0.186", {"station", "wrong"}, "u-boot.bin", std::nullopt, "the login answered 530 Authentication failed."},
        {"127.0.0.186", {"station", "s3cret\r\nDELE u-boot.bin"}, "u-boot.bin", std::nullopt,
         "a line end in the account or the file name"},
        {"127.0.0.188", {"station", "s3cret"}, "u-boot.bin", std::nullopt, "no connection to port 21"},
        {"127.0.0.187", {"station", "s3cret"}, "u-boot.bin", std::nullopt, "no answer within 300 ms", 300},
    };
    for (const auto& c : cases) {
        std::string why;
        EXPECT_EQ(FtpSize(c.timeoutMs).of(c.host, 21, c.account, c.path, why), c.size) << c.why;
        EXPECT_EQ(why, c.why);
    }
    ::close(silent);
}

}  // namespace
}  // namespace vornix
