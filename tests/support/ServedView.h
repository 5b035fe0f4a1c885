#pragma once

// vornix-cli --serve as a separate process in a station directory: ready
// once it said where it serves; stopped (SIGTERM) at the end of the test.
#include <httplib.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/BuildPath.h"

namespace vornix::test {

class ServedView {
public:
    // more: arguments after --serve ADDRESS:PORT.
    ServedView(const std::string& directory, const std::string& address, int port,
               std::vector<std::string> more = {})
        : address_(address), port_(port) {
        int out[2];
        if (::pipe(out) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], 1);
            ::close(out[0]);
            if (::chdir(directory.c_str()) != 0) ::_exit(99);
            std::string listen = address + ":" + std::to_string(port), cli = VORNIX_CLI_PATH, serve = "--serve";
            std::vector<char*> argv = {cli.data(), serve.data(), listen.data()};
            for (std::string& m : more) argv.push_back(m.data());
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(98);
        }
        ::close(out[1]);
        // Its first line says it serves; the journal and the database are read by then.
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        pollfd wait{out[0], POLLIN, 0};
        char c;
        while (std::chrono::steady_clock::now() < until && ::poll(&wait, 1, 1000) >= 0) {
            if (!(wait.revents & (POLLIN | POLLHUP))) continue;
            if (::read(out[0], &c, 1) != 1) break;
            said_ += c;
            if (c == '\n') break;
        }
        ::close(out[0]);
    }
    ~ServedView() { stop(); }
    // Stops it as a service manager would (SIGTERM); its exit status, -1 when it did not exit.
    int stop() {
        if (pid_ <= 0) return -1;
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    ServedView(const ServedView&) = delete;
    ServedView& operator=(const ServedView&) = delete;

    bool ready() const { return said_.find("serving the line view on") != std::string::npos; }
    std::string failure() const { return "vornix-cli --serve said: " + said_; }
    std::string url(const std::string& path) const {
        return "http://" + address_ + ":" + std::to_string(port_) + path;
    }

    // The body of a GET, and its status.
    std::string get(const std::string& path, int* status = nullptr) const {
        httplib::Client client(address_, port_);
        client.set_read_timeout(30, 0);
        const httplib::Result result = client.Get(path.c_str());
        if (status) *status = result ? result->status : -1;
        return result ? result->body : std::string();
    }
    nlohmann::json json(const std::string& path) const { return nlohmann::json::parse(get(path), nullptr, false); }

private:
    std::string address_;
    int port_;
    pid_t pid_ = -1;
    std::string said_;
};

}  // namespace vornix::test
