#include "link/FtpSize.h"

#include <chrono>

#include "link/Net.h"

namespace vornix {

namespace ftp {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool coded(const std::string& text, std::size_t at) {
    return at + 3 <= text.size() && text[at] >= '1' && text[at] <= '5' && isDigit(text[at + 1]) && isDigit(text[at + 2]);
}

}  // namespace

Taken takeReply(std::string& received, Reply& reply) {
    const std::size_t firstEnd = received.find('\n');
    if (firstEnd == std::string::npos) return received.size() > maxReplyBytes ? Taken::malformed : Taken::incomplete;
    if (!coded(received, 0) || (received[3] != ' ' && received[3] != '-' && received[3] != '\r' && received[3] != '\n'))
        return Taken::malformed;
    const std::string code = received.substr(0, 3);
    std::size_t start = 0, end = firstEnd;
    // A reply of several lines ends with the line that has its code and a blank.
    if (received[3] == '-') {
        for (start = firstEnd + 1;; start = end + 1) {
            end = received.find('\n', start);
            if (end == std::string::npos) return received.size() > maxReplyBytes ? Taken::malformed : Taken::incomplete;
            const std::size_t after = start + 3;  // the code's line ends here, or goes on after a blank
            if (received.compare(start, 3, code) == 0 && after <= end &&
                (received[after] == ' ' || received[after] == '\n' || received[after] == '\r'))
                break;
        }
    }
    if (end + 1 > maxReplyBytes) return Taken::malformed;
    std::size_t lineEnd = end;
    if (lineEnd > start && received[lineEnd - 1] == '\r') --lineEnd;
    reply.code = std::stoi(code);
    reply.line = received.substr(start, lineEnd - start);
    received.erase(0, end + 1);
    return Taken::reply;
}

std::optional<std::uint64_t> sizeIn(const Reply& reply) {
    // RFC 3659: "213" SP 1*DIGIT. 19 digits always fit; a size that needs
    // more is no file of ours.
    const std::size_t end = reply.line.size();
    if (reply.code != 213 || reply.line.compare(0, 4, "213 ") != 0 || end == 4 || end - 4 > 19) return std::nullopt;
    std::uint64_t size = 0;
    for (std::size_t i = 4; i < end; ++i) {
        if (!isDigit(reply.line[i])) return std::nullopt;
        size = size * 10 + static_cast<std::uint64_t>(reply.line[i] - '0');
    }
    return size;
}

}  // namespace ftp

namespace {

using Clock = std::chrono::steady_clock;

// One control connection, given up at its deadline.
class Exchange {
public:
    Exchange(int timeoutMs, const std::string& password)
        : deadline_(Clock::now() + std::chrono::milliseconds(timeoutMs)), timeoutMs_(timeoutMs), password_(password) {}
    ~Exchange() {
        if (socket_ != net::noSocket) net::closeSocket(socket_);
        if (started_) net::stopSockets();
    }
    Exchange(const Exchange&) = delete;
    Exchange& operator=(const Exchange&) = delete;

    bool open(const std::string& host, int port, std::string& why) {
        started_ = net::startSockets(2, 2);
        if (!started_) return failed(why, "the socket library did not start");
        std::uint32_t address = 0;
        if (!net::resolveIPv4(host, address)) return failed(why, "no such address");
        socket_ = net::openTcp();
        if (socket_ == net::noSocket) return failed(why, "no socket");
        if (!net::connectWithin(socket_, address, port, remainingMs()))
            return failed(why, "no connection to port " + std::to_string(port));
        ftp::Reply greeting;
        if (!reply(greeting, why)) return false;
        if (greeting.code / 100 == 2) return true;
        unwanted("the server", greeting, why);
        return false;
    }

    // Sends command, then takes its reply (preliminary 1xx ones skipped).
    bool ask(const std::string& command, ftp::Reply& answer, std::string& why) {
        const std::string line = command + "\r\n";
        if (net::sendBytes(socket_, line.data(), static_cast<int>(line.size())) != static_cast<int>(line.size()))
            return failed(why, "the connection broke");
        return reply(answer, why);
    }

    void quit() {
        static const char line[] = "QUIT\r\n";
        net::sendBytes(socket_, line, static_cast<int>(sizeof line - 1));
    }

    // why for a reply the station did not want: the server's own line,
    // unless it holds the password. nullopt, for a failed query.
    std::nullopt_t unwanted(const std::string& step, const ftp::Reply& answer, std::string& why) const {
        std::string shown;
        for (const char c : answer.line.substr(0, 120)) shown += c >= 0x20 && c < 0x7f ? c : '?';
        if (!password_.empty() && answer.line.find(password_) != std::string::npos)
            shown = std::to_string(answer.code);
        failed(why, step + " answered " + shown);
        return std::nullopt;
    }

private:
    static bool failed(std::string& why, const std::string& reason) {
        why = reason;
        return false;
    }

    int remainingMs() const {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now()).count();
        return left > 0 ? static_cast<int>(left) : 0;
    }

    bool reply(ftp::Reply& answer, std::string& why) {
        for (;;) {
            switch (ftp::takeReply(received_, answer)) {
            case ftp::Taken::malformed:
                return failed(why, "not an FTP server's reply");
            case ftp::Taken::reply:
                if (answer.code / 100 == 1) continue;  // preliminary: the real one follows
                return true;
            case ftp::Taken::incomplete:
                break;
            }
            const int ready = net::waitReadable(socket_, remainingMs());
            if (ready == 0) {
                const bool seconds = timeoutMs_ % 1000 == 0;
                return failed(why, "no answer within " +
                                       (seconds ? std::to_string(timeoutMs_ / 1000) + " s" : std::to_string(timeoutMs_) + " ms"));
            }
            char buffer[1024];
            const int count = ready < 0 ? -1 : net::receive(socket_, buffer, sizeof buffer);
            if (count == 0) return failed(why, "the server closed the connection");
            if (count < 0) return failed(why, "the connection broke");
            received_.append(buffer, static_cast<std::size_t>(count));
        }
    }

    Clock::time_point deadline_;
    int timeoutMs_;
    const std::string& password_;
    bool started_ = false;
    net::SocketHandle socket_ = net::noSocket;
    std::string received_;
};

bool oneLine(const std::string& text) {
    return text.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

}  // namespace

std::optional<std::uint64_t> FtpSize::of(const std::string& host, int port, const Account& account,
                                         const std::string& path, std::string& why) const {
    // A line end would end the command early and start one of its own.
    if (!oneLine(account.user) || !oneLine(account.password) || !oneLine(path)) {
        why = "a line end in the account or the file name";
        return std::nullopt;
    }
    Exchange exchange(timeoutMs_, account.password);
    if (!exchange.open(host, port, why)) return std::nullopt;
    ftp::Reply answer;
    if (!exchange.ask("USER " + account.user, answer, why)) return std::nullopt;
    if (answer.code == 331 && !exchange.ask("PASS " + account.password, answer, why)) return std::nullopt;
    if (answer.code / 100 != 2) return exchange.unwanted("the login", answer, why);
    if (!exchange.ask("TYPE I", answer, why)) return std::nullopt;
    if (answer.code / 100 != 2) return exchange.unwanted("TYPE I", answer, why);
    if (!exchange.ask("SIZE " + path, answer, why)) return std::nullopt;
    const std::optional<std::uint64_t> size = ftp::sizeIn(answer);
    if (!size) return exchange.unwanted("SIZE", answer, why);
    exchange.quit();
    return size;
}

}  // namespace vornix
