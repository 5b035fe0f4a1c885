#include "platform/AtomicReplace.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/TestHold.h"
#include "platform/posix/WriteAll.h"

namespace vornix::platform {

namespace {

std::string directoryOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

}  // namespace

bool replaceFileAtomically(const std::string& path, const std::string& bytes) {
    // Through a symbolic link the file it names is replaced, not the link.
    std::string target = path;
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
        char resolved[PATH_MAX];
        if (!::realpath(path.c_str(), resolved)) return false;
        target = resolved;
    }
    const bool existed = ::stat(target.c_str(), &info) == 0;
    if (existed && !S_ISREG(info.st_mode)) return false;

    const std::string temporary = target + ".vornix-tmp";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    bool ok = writeAll(fd, bytes);
    if (ok && existed) ok = ::fchmod(fd, info.st_mode & 07777) == 0;
    if (ok) ok = ::fsync(fd) == 0;
    if (::close(fd) != 0) ok = false;
    if (ok) holdForTest("VORNIX_TEST_HOLD_BEFORE_RENAME");
    if (ok) ok = ::rename(temporary.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(temporary.c_str());
        return false;
    }
    holdForTest("VORNIX_TEST_HOLD_AFTER_RENAME");
    // The rename itself must reach the disk too.
    const int dir = ::open(directoryOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

}  // namespace vornix::platform
