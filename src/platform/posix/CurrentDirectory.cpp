#include "platform/CurrentDirectory.h"

#include <climits>
#include <unistd.h>

namespace vornix::platform {

std::optional<std::string> currentDirectory() {
    char buffer[PATH_MAX];
    if (!::getcwd(buffer, sizeof buffer)) return std::nullopt;
    return std::string(buffer);
}

char pathSeparator() { return '/'; }

}  // namespace vornix::platform
