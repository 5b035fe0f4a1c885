#include "platform/HostName.h"

#include <windows.h>

namespace vornix::platform {

std::string hostName() {
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    return GetComputerNameA(name, &size) ? std::string(name, size) : std::string();
}

}  // namespace vornix::platform
