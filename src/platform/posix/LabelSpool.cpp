#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/AtomicReplace.h"
#include "platform/LabelSpools.h"
#include "platform/posix/WriteAll.h"

extern char** environ;

namespace vornix::platform {

namespace {

// lp copies the file into its spool and ends; one that takes longer than
// this is stuck, and the run must not wait on it.
constexpr int lpTimeoutMs = 30000;

// The first line lp wrote to its standard error, bounded.
std::string firstLine(int fd) {
    std::string text;
    char buffer[512];
    ssize_t got;
    while (text.size() < 4096 && (got = ::read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(got));
    text = text.substr(0, text.find('\n'));
    if (text.size() > 200) text.resize(200);
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) c = '?';
    return text;
}

std::string toQueue(const std::string& queue, const std::string& zpl) {
    const char* tmp = std::getenv("TMPDIR");
    std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/vornix-label-XXXXXX";
    std::vector<char> name(path.begin(), path.end());
    name.push_back('\0');
    const int file = ::mkstemp(name.data());
    if (file < 0) return std::string("lp: cannot make a file for the label: ") + std::strerror(errno);
    path = name.data();
    const bool written = writeAll(file, zpl);
    ::close(file);
    struct Removed {
        std::string path;
        ~Removed() { ::unlink(path.c_str()); }
    } removed{path};
    if (!written) return "lp: cannot write the label to " + path;

    int errors[2];
    if (::pipe2(errors, O_CLOEXEC) != 0) return std::string("lp: ") + std::strerror(errno);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, errors[1], 2);
    std::vector<std::string> args = {"lp", "-d", queue, "-o", "raw", "--", path};
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t child = 0;
    const int spawned = ::posix_spawnp(&child, "lp", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(errors[1]);
    if (spawned != 0) {
        ::close(errors[0]);
        return std::string("lp could not be started: ") + std::strerror(spawned);
    }
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(lpTimeoutMs);
    for (;;) {
        const pid_t done = ::waitpid(child, &status, WNOHANG);
        if (done == child) break;
        if (done < 0 && errno != EINTR) break;
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            ::close(errors[0]);
            return "lp did not end within " + std::to_string(lpTimeoutMs / 1000) + " s";
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const std::string said = firstLine(errors[0]);
    ::close(errors[0]);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return std::string();
    return "lp -d " + queue + " failed" + (said.empty() ? std::string() : ": " + said);
}

class PosixLabelSpool : public LabelSpool {
public:
    PosixLabelSpool(std::string directory, char separator) : directory_(std::move(directory)), separator_(separator) {}
    std::string hand(const LabelPrinter& printer, const std::string& name, const std::string& zpl) override {
        switch (printer.kind) {
            case LabelPrinterKind::Lp: return toQueue(printer.name, zpl);
            case LabelPrinterKind::Directory: {
                const std::string folder = printer.name[0] == '/' ? printer.name : directory_ + separator_ + printer.name;
                const std::string path = folder + separator_ + labelFileName(name);
                if (!replaceFileAtomically(path, zpl)) return "cannot write " + path;
                return std::string();
            }
            case LabelPrinterKind::Windows: return "win: printers are Windows printers";
            case LabelPrinterKind::Tcp: break;
        }
        return "tcp: printers are not spooled";
    }

private:
    std::string directory_;
    char separator_;
};

}  // namespace

std::unique_ptr<LabelSpool> makeLabelSpool(const std::string& directory, char separator) {
    return std::make_unique<PosixLabelSpool>(directory, separator);
}

}  // namespace vornix::platform
