#include "platform/CurrentDirectory.h"

#include <windows.h>

namespace vornix::platform {

std::optional<std::string> currentDirectory() {
    char buffer[MAX_PATH];
    const DWORD length = GetCurrentDirectoryA(MAX_PATH, buffer);
    if (length == 0 || length >= MAX_PATH) return std::nullopt;  // >= : the size it would need
    return std::string(buffer, length);
}

char pathSeparator() { return '\\'; }

}  // namespace vornix::platform
