#include "platform/HostName.h"

#include <unistd.h>

namespace vornix::platform {

std::string hostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return std::string();
    return name;
}

}  // namespace vornix::platform
