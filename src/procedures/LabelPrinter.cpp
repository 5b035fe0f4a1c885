#include "procedures/LabelPrinter.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "link/Net.h"

namespace vornix {

namespace {

constexpr char stx = '\x02', etx = '\x03';
// Three short strings of flags; anything longer is not a status.
constexpr std::size_t maxStatusBytes = 1024;

std::vector<std::string> fieldsOf(const std::string& text) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        fields.push_back(text.substr(start, comma - start));
        if (comma == std::string::npos) return fields;
        start = comma + 1;
    }
}

// A flag as the status holds it: "0" or "1"; anything else is no status.
int flag(const std::string& field) { return field == "0" ? 0 : field == "1" ? 1 : -1; }

int countOf(const std::string& text, char c) {
    int count = 0;
    for (char each : text) count += each == c;
    return count;
}

// The socket library's reference and the socket, released on every path.
struct Connection {
    net::SocketHandle socket = net::noSocket;
    bool started = net::startSockets(2, 2);
    ~Connection() {
        if (socket != net::noSocket) net::closeSocket(socket);
        if (started) net::stopSockets();
    }
};

// A printer that stops reading must not hold the run: its connection is
// shut once the label has not gone out within the time, which ends a send
// blocked on it.
class SendWatch {
public:
    SendWatch(net::SocketHandle socket, int timeoutMs)
        : thread_([this, socket, timeoutMs] {
              std::unique_lock<std::mutex> lock(mutex_);
              if (!done_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return over_; })) {
                  cut_ = true;
                  net::shutdownBoth(socket);
              }
          }) {}
    ~SendWatch() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            over_ = true;
        }
        done_.notify_all();
        thread_.join();
    }
    bool cut() {
        std::lock_guard<std::mutex> lock(mutex_);
        return cut_;
    }

private:
    std::mutex mutex_;
    std::condition_variable done_;
    bool over_ = false, cut_ = false;
    std::thread thread_;
};

constexpr int sendTimeoutMs = 10000;

}  // namespace

std::string hostStatusProblem(const std::string& answer) {
    const std::string unreadable = "the printer's status could not be read";
    std::vector<std::vector<std::string>> strings;
    for (std::size_t at = answer.find(stx); at != std::string::npos && strings.size() < 3; at = answer.find(stx, at)) {
        const std::size_t end = answer.find(etx, at + 1);
        if (end == std::string::npos) return unreadable;
        strings.push_back(fieldsOf(answer.substr(at + 1, end - at - 1)));
        at = end + 1;
    }
    // String 1: communication settings, paper out, pause, ...; string 2:
    // function settings, unused, head up, ribbon out, ...
    if (strings.size() < 3 || strings[0].size() < 3 || strings[1].size() < 4) return unreadable;
    const int paperOut = flag(strings[0][1]), paused = flag(strings[0][2]);
    const int headUp = flag(strings[1][2]), ribbonOut = flag(strings[1][3]);
    if (paperOut < 0 || paused < 0 || headUp < 0 || ribbonOut < 0) return unreadable;
    if (paperOut) return "paper out";
    if (ribbonOut) return "ribbon out";
    if (headUp) return "head open";
    if (paused) return "printer paused";
    return std::string();
}

std::string LabelPrinterLink::print(const LabelPrinter& printer, const std::string& name, const std::string& zpl) {
    if (printer.kind == LabelPrinterKind::Tcp) return overTcp(printer, zpl);
    return spool_.hand(printer, name, zpl);
}

std::string LabelPrinterLink::overTcp(const LabelPrinter& printer, const std::string& zpl) {
    const std::string where = "tcp:" + printer.host + ":" + std::to_string(printer.port);
    Connection connection;
    std::uint32_t address = 0;
    if (!connection.started || !net::resolveIPv4(printer.host, address)) return "can't find " + where;
    connection.socket = net::openTcp();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(statusTimeoutMs_);
    if (connection.socket == net::noSocket ||
        !net::connectWithin(connection.socket, address, printer.port, statusTimeoutMs_))
        return "can't connect to " + where;

    // Its status first: a printer that cannot print would keep the label
    // and print it, unasked, once someone fixes it.
    if (net::sendBytes(connection.socket, "~HS", 3) != 3) return "the printer did not answer";
    std::string answer;
    char buffer[256];
    while (countOf(answer, etx) < 3 && answer.size() < maxStatusBytes) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0 || net::waitReadable(connection.socket, static_cast<int>(left)) != 1) break;
        const int got = net::receive(connection.socket, buffer, sizeof buffer);
        if (got <= 0) break;
        answer.append(buffer, static_cast<std::size_t>(got));
    }
    if (countOf(answer, etx) < 3) return answer.empty() ? "the printer did not answer" : "the printer's status could not be read";
    const std::string problem = hostStatusProblem(answer);
    if (!problem.empty()) return problem;

    SendWatch watch(connection.socket, sendTimeoutMs);
    for (std::size_t sent = 0; sent < zpl.size();) {
        const std::size_t chunk = std::min<std::size_t>(zpl.size() - sent, 64 * 1024);
        const int count = net::sendBytes(connection.socket, zpl.data() + sent, static_cast<int>(chunk));
        if (count <= 0 && watch.cut())
            return "the printer took no more of the label within " + std::to_string(sendTimeoutMs / 1000) + " s";
        if (count <= 0) return "the connection to " + where + " broke while the label was sent";
        sent += static_cast<std::size_t>(count);
    }
    net::shutdownBoth(connection.socket);
    return std::string();
}

}  // namespace vornix
