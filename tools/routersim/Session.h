#pragma once

// One telnet connection's view of the router: the terminal (option bytes
// skipped, typed characters echoed, lines assembled), the login and the
// shell. Socket-free: the connection feeds it bytes and sends what it
// returns. Each line is carried out `latencyMs` after it arrived, in order.
#include <chrono>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "Options.h"
#include "RouterState.h"

namespace routersim {

class SessionHost {
public:
    virtual ~SessionHost() = default;
    // Runs `work` with the router's shared state locked.
    virtual void withState(const std::function<void(RouterState&)>& work) = 0;
    // Starts a reboot: every other connection is dropped, telnet refused for a while.
    virtual void reboot() = 0;
    virtual void log(const std::string& line) = 0;
    // Readable once the router is stopping; long waits (wget) watch it.
    virtual int abortFd() const = 0;
};

class Session {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::size_t maxLine = 4096;
    static constexpr std::size_t maxPendingLines = 256;

    Session(const Options& options, SessionHost& host, int id);

    // Banner and login prompt for a new connection.
    std::string greeting();
    // Takes received bytes; returns their echo, to be sent at once.
    std::string receive(const char* data, std::size_t size, Clock::time_point now);
    bool hasPending() const { return !pending_.empty(); }
    Clock::time_point nextDue() const { return pending_.front().due; }
    // Carries out the lines that are due; returns their answers.
    std::string runDue(Clock::time_point now);
    // The connection should end once what was returned so far is sent.
    bool closing() const { return closing_; }

private:
    enum class Mode { login, password, cli, shell };
    enum class Telnet { data, iac, option, sub, subIac };
    struct Line {
        Clock::time_point due;
        std::string text;
    };

    void lineDone(Clock::time_point now);
    std::string execute(const std::string& line);
    std::string loginPrompt() const { return "router login: "; }
    // The shell's prompt, "{cwd}" in it standing for the current directory.
    std::string shellPrompt() const;
    std::string passwordPromptText() const;
    std::string afterPassword(const std::string& password);
    std::string cliCommand(const std::string& line);
    std::string shellCommand(const std::string& line);
    std::string wget(const std::vector<std::string>& args);
    std::string cp(const std::vector<std::string>& args);
    std::string wc(const std::vector<std::string>& args, std::string& out);
    // Router text ("\n" line ends) as it goes on the wire.
    std::string encode(const std::string& text) const;

    const Options& options_;
    SessionHost& host_;
    int id_;
    Mode mode_ = Mode::login;
    Telnet telnet_ = Telnet::data;
    bool lastWasCr_ = false;
    bool closing_ = false;
    int linesReceived_ = 0;
    std::string line_;
    std::string user_;
    std::string cwd_ = "/";
    std::deque<Line> pending_;
};

}  // namespace routersim
