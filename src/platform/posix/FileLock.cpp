#include "platform/FileLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace vornix::platform {

namespace {

class PosixLock : public HeldLock {
public:
    explicit PosixLock(int fd) : fd_(fd) {}
    ~PosixLock() override { ::close(fd_); }

private:
    int fd_;
};

}  // namespace

std::unique_ptr<HeldLock> lockFile(const std::string& path, int timeoutMs, std::string& why) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        why = "cannot open " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return std::make_unique<PosixLock>(fd);
        if (errno != EWOULDBLOCK && errno != EINTR) {
            why = "cannot lock " + path + ": " + std::strerror(errno);
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            why = "another process has held " + path + " for " + std::to_string(timeoutMs / 1000) + " s";
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ::close(fd);
    return nullptr;
}

std::unique_ptr<HeldLock> tryLockByte(const std::string& path, unsigned offset, std::string& why) {
    why.clear();
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        why = "cannot open " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    // Locks of the open file, not of the process: two holders in one
    // process (ports run as threads in tests) exclude each other too.
    struct flock range {};
    range.l_type = F_WRLCK;
    range.l_whence = SEEK_SET;
    range.l_start = static_cast<off_t>(offset);
    range.l_len = 1;
    if (::fcntl(fd, F_OFD_SETLK, &range) == 0) return std::make_unique<PosixLock>(fd);
    if (errno != EAGAIN && errno != EACCES) why = "cannot lock " + path + ": " + std::strerror(errno);
    ::close(fd);
    return nullptr;
}

}  // namespace vornix::platform
