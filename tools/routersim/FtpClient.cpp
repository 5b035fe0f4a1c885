#include "FtpClient.h"

#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace routersim {

namespace {

constexpr std::size_t maxReplyLine = 1024;

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

std::string trimEnd(std::string text) {
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
    return text;
}

// The port of a "227 Entering Passive Mode (h1,h2,h3,h4,p1,p2)" reply; -1 when malformed.
int passivePort(const std::string& text) {
    const auto open = text.find('(');
    std::size_t at = open == std::string::npos ? 4 : open + 1;
    int numbers[6];
    for (int i = 0; i < 6; ++i) {
        int value = 0;
        std::size_t digits = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 4) {
            value = value * 10 + (text[at++] - '0');
            ++digits;
        }
        if (digits == 0 || value > 255) return -1;
        numbers[i] = value;
        if (i < 5) {
            if (at >= text.size() || text[at] != ',') return -1;
            ++at;
        }
    }
    return numbers[4] * 256 + numbers[5];
}

}  // namespace

bool FtpClient::waitReadable(int fd) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {abortFd_, POLLIN, 0}};
    const int ready = ::poll(fds, abortFd_ >= 0 ? 2 : 1, timeoutMs_);
    return ready > 0 && fds[1].revents == 0 && fds[0].revents != 0;
}

int FtpClient::connectTo(const std::string& address, int port, std::string& error) {
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(static_cast<std::uint16_t>(port));
    if (port <= 0 || port > 65535 || ::inet_pton(AF_INET, address.c_str(), &at.sin_addr) != 1) {
        error = "bad address '" + address + "'";
        return -1;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        error = std::strerror(errno);
        return -1;
    }
    int result = ::connect(fd, reinterpret_cast<sockaddr*>(&at), sizeof at);
    if (result != 0 && errno == EINPROGRESS) {
        pollfd fds[2] = {{fd, POLLOUT, 0}, {abortFd_, POLLIN, 0}};
        int soError = ETIMEDOUT;
        if (::poll(fds, abortFd_ >= 0 ? 2 : 1, timeoutMs_) > 0 && fds[1].revents == 0) {
            socklen_t size = sizeof soError;
            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &size);
        }
        result = soError == 0 ? 0 : -1;
        errno = soError;
    }
    if (result != 0) {
        error = "can't connect to remote host (" + address + "): " + std::strerror(errno);
        ::close(fd);
        return -1;
    }
    return fd;
}

bool FtpClient::sendLine(int fd, const std::string& line) {
    const std::string wire = line + "\r\n";
    std::size_t sent = 0;
    while (sent < wire.size()) {
        const ssize_t n = ::send(fd, wire.data() + sent, wire.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd fds[2] = {{fd, POLLOUT, 0}, {abortFd_, POLLIN, 0}};
            if (::poll(fds, abortFd_ >= 0 ? 2 : 1, timeoutMs_) <= 0 || fds[1].revents != 0) return false;
        } else {
            return false;
        }
    }
    return true;
}

int FtpClient::reply(int fd, std::string& text) {
    std::string firstCode;
    for (;;) {
        const auto end = pending_.find('\n');
        if (end == std::string::npos) {
            if (pending_.size() > maxReplyLine) return -1;
            if (!waitReadable(fd)) return -1;
            char buffer[512];
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) return -1;
            pending_.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        const std::string line = trimEnd(pending_.substr(0, end));
        pending_.erase(0, end + 1);
        const bool coded = line.size() >= 3 && std::isdigit(static_cast<unsigned char>(line[0])) &&
                           std::isdigit(static_cast<unsigned char>(line[1])) &&
                           std::isdigit(static_cast<unsigned char>(line[2]));
        if (!coded) continue;  // a continuation line of a multi-line reply
        if (firstCode.empty()) firstCode = line.substr(0, 3);
        if (line.compare(0, 3, firstCode) == 0 && (line.size() == 3 || line[3] == ' ')) {
            text = line;
            return std::stoi(firstCode);
        }
    }
}

bool FtpClient::fetch(const FtpRequest& request, std::string& data, std::string& error) {
    pending_.clear();
    data.clear();
    Fd control(connectTo(request.address, request.port, error));
    if (control.get() < 0) return false;
    std::string text;
    auto unexpected = [&](const std::string& step) {
        error = text.empty() ? "connection closed during " + step : "unexpected server response to " + step + ": " + text;
        return false;
    };
    if (reply(control.get(), text) / 100 != 2) return unexpected("connect");

    if (!sendLine(control.get(), "USER " + request.user)) return unexpected("USER");
    text.clear();
    int code = reply(control.get(), text);
    if (code == 331) {
        if (!sendLine(control.get(), "PASS " + request.password)) return unexpected("PASS");
        text.clear();
        code = reply(control.get(), text);
        if (code / 100 != 2) return unexpected("PASS");
    } else if (code / 100 != 2) {
        return unexpected("USER");
    }

    text.clear();
    if (!sendLine(control.get(), "TYPE I") || reply(control.get(), text) / 100 != 2) return unexpected("TYPE I");
    text.clear();
    if (!sendLine(control.get(), "PASV") || reply(control.get(), text) != 227) return unexpected("PASV");
    const int dataPort = passivePort(text.substr(3));
    if (dataPort <= 0) return unexpected("PASV");
    // The data connection goes where the control connection went: the
    // address inside the reply may be one this side cannot reach.
    Fd dataFd(connectTo(request.address, dataPort, error));
    if (dataFd.get() < 0) return false;

    text.clear();
    if (!sendLine(control.get(), "RETR " + request.path)) return unexpected("RETR");
    code = reply(control.get(), text);
    if (code != 150 && code != 125) return unexpected("RETR");
    for (;;) {
        if (!waitReadable(dataFd.get())) {
            error = "timeout reading data";
            return false;
        }
        char buffer[4096];
        const ssize_t n = ::recv(dataFd.get(), buffer, sizeof buffer, 0);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR) continue;
            error = std::string("error reading data: ") + std::strerror(errno);
            return false;
        }
        if (data.size() + static_cast<std::size_t>(n) > maxBytes_) {
            error = "file too large";
            return false;
        }
        data.append(buffer, static_cast<std::size_t>(n));
    }
    text.clear();
    if (reply(control.get(), text) / 100 != 2) return unexpected("RETR");
    sendLine(control.get(), "QUIT");
    return true;
}

}  // namespace routersim
