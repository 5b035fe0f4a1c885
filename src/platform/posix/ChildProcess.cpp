#include "platform/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

extern char** environ;

namespace vornix::platform {

namespace {

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
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe[1], 1);
    pid_t pid = 0;
    const int failed = ::posix_spawn(&pid, self, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipe[1]);
    if (failed != 0) {
        ::close(pipe[0]);
        why = std::string("cannot start ") + self + ": " + std::strerror(failed);
        return nullptr;
    }
    return std::make_unique<PosixChild>(pid, pipe[0]);
}

}  // namespace vornix::platform
