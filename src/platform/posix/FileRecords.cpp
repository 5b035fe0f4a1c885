#include "platform/FileRecords.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/TestHold.h"
#include "platform/posix/WriteAll.h"

namespace vornix::platform {

namespace {

std::string reason() { return std::strerror(errno); }

bool makeDirectory(const std::string& directory, std::string& why) {
    if (::mkdir(directory.c_str(), 0755) == 0 || errno == EEXIST) return true;
    why = reason();
    return false;
}

// flock: held by the open file, not the process, so a second open of the
// same file (in this process too) cannot take it; gone with the process.
class PosixHeldFile : public HeldFile {
public:
    PosixHeldFile(int fd, std::string directory, std::string name)
        : fd_(fd), directory_(std::move(directory)), name_(std::move(name)) {}
    ~PosixHeldFile() override { ::close(fd_); }

    bool append(const std::string& bytes, std::string& why) override {
        if (writeAll(fd_, bytes)) return true;
        why = errno ? reason() : "nothing was written";
        return false;
    }
    bool sync(std::string& why) override {
        if (::fsync(fd_) == 0) return true;
        why = reason();
        return false;
    }
    bool read(std::string& bytes, std::string& why) override {
        bytes.clear();
        char buffer[65536];
        for (off_t at = 0;;) {
            const ssize_t n = ::pread(fd_, buffer, sizeof buffer, at);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                why = reason();
                return false;
            }
            if (n == 0) return true;
            bytes.append(buffer, static_cast<std::size_t>(n));
            at += n;
        }
    }
    bool rename(const std::string& name, std::string& why) override {
        if (::rename((directory_ + "/" + name_).c_str(), (directory_ + "/" + name).c_str()) != 0) {
            why = reason();
            return false;
        }
        name_ = name;
        return true;
    }
    bool remove(std::string& why) override {
        if (::unlink((directory_ + "/" + name_).c_str()) == 0) return true;
        why = reason();
        return false;
    }

private:
    int fd_;
    std::string directory_, name_;
};

// Waits up to wait for the file's lock; the system lets it go with the file.
bool takeTurn(int fd, std::chrono::milliseconds wait, std::string& why) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK && errno != EINTR) {
            why = reason();
            return false;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            why = "another process has held it for " + std::to_string(wait.count() / 1000) + " s";
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// Where unnamed files are not to be had: made under its ".new" name first,
// then locked. A start in between could take it for a killed run's.
std::unique_ptr<HeldFile> createNamedFirst(const std::string& directory, const std::string& name,
                                           const std::string& heading, std::string& why) {
    const std::string fresh = name + ".new";
    const int fd = ::open((directory + "/" + fresh).c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        why = reason();
        return nullptr;
    }
    auto file = std::make_unique<PosixHeldFile>(fd, directory, fresh);
    holdForTest("VORNIX_TEST_HOLD_BEFORE_LOCK");
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        why = reason();
        ::unlink((directory + "/" + fresh).c_str());
        return nullptr;
    }
    holdForTest("VORNIX_TEST_HOLD_BEFORE_HEADING");
    // The heading on the disk before the name: a run's .open transcript
    // always tells which run it was.
    if (!file->append(heading, why) || !file->sync(why) || !file->rename(name, why)) {
        ::unlink((directory + "/" + fresh).c_str());
        return nullptr;
    }
    return file;
}

}  // namespace

bool FileRecords::appendLine(const std::string& path, const std::string& line, std::string& why) {
    const int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        why = reason();
        return false;
    }
    // Appends take turns (a gang's ports end together): the look at the
    // last byte and the write belong to one writer. Readers take no lock.
    if (!takeTurn(fd, journalWait_, why)) {
        ::close(fd);
        return false;
    }
    holdForTest("VORNIX_TEST_HOLD_JOURNAL_TURN");
    // A process killed in the middle of its write left a torn last line:
    // the new record starts a line of its own.
    std::string bytes = line + "\n";
    const off_t size = ::lseek(fd, 0, SEEK_END);
    char last = '\n';
    if (size > 0 && ::pread(fd, &last, 1, size - 1) == 1 && last != '\n') bytes.insert(0, "\n");
    const bool ok = writeAll(fd, bytes) && ::fsync(fd) == 0;
    if (!ok) why = reason();
    if (::close(fd) != 0 && ok) {
        why = reason();
        return false;
    }
    return ok;
}

bool FileRecords::writeNew(const std::string& directory, const std::string& name, const std::string& bytes,
                           std::string& why) {
    if (!makeDirectory(directory, why)) return false;
    const std::string path = directory + "/" + name;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        why = reason();
        return false;
    }
    const bool ok = writeAll(fd, bytes) && ::fsync(fd) == 0;
    if (!ok) why = reason();
    ::close(fd);
    return ok;
}


std::unique_ptr<HeldFile> FileRecords::create(const std::string& directory, const std::string& name,
                                              const std::string& heading, std::string& why) {
    if (!makeDirectory(directory, why)) return nullptr;
    // Made without a name, locked, its heading on the disk, and only then
    // named: no other process ever finds it unheld or without its heading,
    // and a process killed before that leaves nothing.
    const int fd = ::open(directory.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0644);
    if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL))
        return createNamedFirst(directory, name, heading, why);
    if (fd < 0) {
        why = reason();
        return nullptr;
    }
    auto file = std::make_unique<PosixHeldFile>(fd, directory, name);
    holdForTest("VORNIX_TEST_HOLD_BEFORE_LOCK");
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        why = reason();
        return nullptr;
    }
    holdForTest("VORNIX_TEST_HOLD_BEFORE_HEADING");
    if (!file->append(heading, why) || !file->sync(why)) return nullptr;
    // linkat through /proc: naming an unnamed file by its descriptor alone
    // (AT_EMPTY_PATH) takes a privilege a station may not have.
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, (directory + "/" + name).c_str(), AT_SYMLINK_FOLLOW) != 0) {
        why = reason();
        return nullptr;
    }
    return file;
}

std::vector<std::string> FileRecords::names(const std::string& directory, const std::string& suffix) {
    std::vector<std::string> found;
    DIR* dir = ::opendir(directory.c_str());
    if (!dir) return found;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
            found.push_back(name);
    }
    ::closedir(dir);
    return found;
}

std::unique_ptr<HeldFile> FileRecords::claim(const std::string& directory, const std::string& name) {
    const std::string path = directory + "/" + name;
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return nullptr;
    auto file = std::make_unique<PosixHeldFile>(fd, directory, name);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return nullptr;  // its run is live
    // Its owner may have renamed it (its record written) before letting go.
    struct stat held {}, named {};
    if (::fstat(fd, &held) != 0 || ::stat(path.c_str(), &named) != 0 || held.st_dev != named.st_dev ||
        held.st_ino != named.st_ino)
        return nullptr;
    return file;
}

}  // namespace vornix::platform
