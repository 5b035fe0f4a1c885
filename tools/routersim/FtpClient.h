#pragma once

// The few FTP commands a router's wget needs to fetch one file in passive
// binary mode. Every wait is bounded and also ends when `abortFd` becomes
// readable, so a stopping simulator is never held up by a silent server.
#include <string>

namespace routersim {

struct FtpRequest {
    std::string address;  // dotted IPv4
    int port = 21;
    std::string user;
    std::string password;
    std::string path;
};

class FtpClient {
public:
    FtpClient(int abortFd, int timeoutMs, std::size_t maxBytes)
        : abortFd_(abortFd), timeoutMs_(timeoutMs), maxBytes_(maxBytes) {}

    // True with the file in `data`; false with a wget-style reason in `error`.
    bool fetch(const FtpRequest& request, std::string& data, std::string& error);

private:
    int connectTo(const std::string& address, int port, std::string& error);
    bool sendLine(int fd, const std::string& line);
    // One complete reply (multi-line replies folded to their last line); its code, or -1.
    int reply(int fd, std::string& text);
    bool waitReadable(int fd);

    int abortFd_;
    int timeoutMs_;
    std::size_t maxBytes_;
    std::string pending_;
};

}  // namespace routersim
