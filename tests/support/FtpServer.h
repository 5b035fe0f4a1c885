#pragma once

// The station PC's FTP server for tests: Debian's pyftpdlib on a loopback
// address, serving one directory to one account; or support/cutting-ftp-server,
// the same server cutting every download short.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "support/TestSockets.h"

extern char** environ;

namespace vornix::test {

class FtpServer {
public:
    // A download's data connection closed after bytes; ending: what the
    // control connection says then (426, 226 or drop, see the script).
    struct Cut {
        std::string script;
        long bytes = 0;
        std::string ending = "426";
    };

    FtpServer(const std::string& address, int port, const std::string& user, const std::string& password,
              const std::string& directory, const Cut* cut = nullptr) {
        if (::access("/usr/bin/python3", X_OK) != 0) return;
        std::string portText = std::to_string(port);
        const std::string bytes = cut ? std::to_string(cut->bytes) : "";
        const char* served[] = {"python3", "-m", "pyftpdlib", "-i", address.c_str(), "-p", portText.c_str(),
                                "-u", user.c_str(), "-P", password.c_str(), "-d", directory.c_str(), nullptr};
        const char* cutting[] = {"python3", cut ? cut->script.c_str() : "", address.c_str(), portText.c_str(),
                                 user.c_str(), password.c_str(), directory.c_str(), bytes.c_str(),
                                 cut ? cut->ending.c_str() : "", nullptr};
        const char** argv = cut ? cutting : served;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        if (posix_spawn(&pid_, "/usr/bin/python3", &actions, nullptr, const_cast<char**>(argv), environ) != 0) pid_ = 0;
        posix_spawn_file_actions_destroy(&actions);
        // Up once it accepts a connection (pyftpdlib missing: it exits at once).
        for (int i = 0; i < 100 && pid_ && !ready_; ++i) {
            const int s = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in at{};
            at.sin_family = AF_INET;
            at.sin_port = htons(static_cast<unsigned short>(port));
            at.sin_addr.s_addr = inet_addr(address.c_str());
            ready_ = ::connect(s, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0;
            ::close(s);
            if (!ready_) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    ~FtpServer() {
        if (!pid_) return;
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    FtpServer(const FtpServer&) = delete;
    FtpServer& operator=(const FtpServer&) = delete;

    bool ready() const { return ready_; }

private:
    pid_t pid_ = 0;
    bool ready_ = false;
};

}  // namespace vornix::test
