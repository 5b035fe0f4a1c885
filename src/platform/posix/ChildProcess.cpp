#include "platform/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

extern char** environ;

namespace vornix::platform {

namespace {

// The starter's process id, handed to its children.
constexpr const char* starterVariable = "VORNIX_STARTER=";

class PosixChild : public ChildProcess {
public:
    PosixChild(pid_t pid, int output) : pid_(pid), output_(output) {}
    ~PosixChild() override {
        if (!reaped_) {
            kill();
            wait();
        }
        if (output_ >= 0) ::close(output_);
    }

    bool readLine(std::string& line) override {
        return nextLine(line, [this](char* chunk, std::size_t size) -> std::size_t {
            for (;;) {
                const ssize_t got = ::read(output_, chunk, size);
                if (got < 0 && errno == EINTR) continue;
                return got > 0 ? static_cast<std::size_t>(got) : 0;
            }
        });
    }

    End wait() override {
        if (!reaped_) {
            int status = 0;
            while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
            }
            reaped_ = true;
            if (WIFEXITED(status)) end_ = {true, WEXITSTATUS(status)};
            else end_ = {false, WIFSIGNALED(status) ? WTERMSIG(status) : -1};
        }
        return end_;
    }

    void kill() override {
        if (!reaped_) ::kill(pid_, SIGKILL);
    }
    long long id() const override { return pid_; }

private:
    pid_t pid_;
    int output_;
    bool reaped_ = false;
    End end_;
};

}  // namespace

std::unique_ptr<ChildProcess> ChildProcess::start(const std::vector<std::string>& arguments, std::string& why) {
    char self[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) {
        why = std::string("cannot find this program's own file: ") + std::strerror(errno);
        return nullptr;
    }
    self[length] = '\0';
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0) {
        why = std::string("cannot make a pipe: ") + std::strerror(errno);
        return nullptr;
    }
    std::vector<std::string> texts{self};
    texts.insert(texts.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& text : texts) argv.push_back(&text[0]);
    argv.push_back(nullptr);
    // Our environment, and who started the child.
    std::vector<std::string> environment;
    for (char** entry = environ; *entry; ++entry)
        if (std::strncmp(*entry, starterVariable, std::strlen(starterVariable)) != 0) environment.emplace_back(*entry);
    environment.push_back(starterVariable + std::to_string(::getpid()));
    std::vector<char*> envp;
    for (std::string& entry : environment) envp.push_back(&entry[0]);
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe[1], 1);
    pid_t pid = 0;
    const int failed = ::posix_spawn(&pid, self, &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipe[1]);
    if (failed != 0) {
        ::close(pipe[0]);
        why = std::string("cannot start ") + self + ": " + std::strerror(failed);
        return nullptr;
    }
    return std::make_unique<PosixChild>(pid, pipe[0]);
}

bool ChildProcess::endWithStarter() {
    const char* starter = std::getenv("VORNIX_STARTER");
    if (!starter) return true;
    // The signal comes when the thread that started us ends: the starter
    // keeps that thread until its children are over.
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) return true;
    // Gone before we asked: we belong to another process now.
    return ::getppid() == static_cast<pid_t>(std::atol(starter));
}

}  // namespace vornix::platform
