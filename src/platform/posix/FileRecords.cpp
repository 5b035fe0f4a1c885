#include "platform/FileRecords.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/WriteAll.h"

namespace vornix::platform {

namespace {

std::string reason() { return std::strerror(errno); }

}  // namespace

bool FileRecords::appendLine(const std::string& path, const std::string& line, std::string& why) {
    const int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        why = reason();
        return false;
    }
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
    if (::mkdir(directory.c_str(), 0755) != 0 && errno != EEXIST) {
        why = reason();
        return false;
    }
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

}  // namespace vornix::platform
