#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vornix {

// How many bytes a file on the station's own FTP server holds, asked the
// way RFC 3659 has it: log in, TYPE I (a size in binary mode is the bytes a
// download brings), SIZE, QUIT. The whole exchange ends within its
// time-out; every failure comes with a short reason that never holds the
// password.
class FtpSize {
public:
    struct Account {
        std::string user, password;
    };

    explicit FtpSize(int timeoutMs) : timeoutMs_(timeoutMs) {}

    // The size of path on host:port; nullopt with why otherwise.
    std::optional<std::uint64_t> of(const std::string& host, int port, const Account& account, const std::string& path,
                                    std::string& why) const;

private:
    int timeoutMs_;
};

namespace ftp {

// A server's reply: its code and its last line (with the code).
struct Reply {
    int code = 0;
    std::string line;
};

// Replies longer than this are none the station asked for.
constexpr std::size_t maxReplyBytes = 4096;

enum class Taken { reply, incomplete, malformed };
// The first whole reply at the front of received (one line "DDD text", or
// "DDD-..." lines up to "DDD text"), taken out of it. incomplete: more must
// arrive first; malformed: not an FTP reply, or over maxReplyBytes.
Taken takeReply(std::string& received, Reply& reply);

// The size a 213 reply to SIZE gives ("213 12345"), nullopt for anything else.
std::optional<std::uint64_t> sizeIn(const Reply& reply);

}  // namespace ftp

}  // namespace vornix
