#pragma once

#include <cerrno>
#include <string>
#include <unistd.h>

namespace vornix::platform {

// All of bytes to fd, however many write calls it takes; false on an error.
inline bool writeAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace vornix::platform
