#pragma once

#include <optional>
#include <string>

namespace vornix::platform {

// The process's current directory as the system gives it (on Windows through
// GetCurrentDirectoryA into 260 characters), nullopt when it cannot be read
// or does not fit.
std::optional<std::string> currentDirectory();

// The separator put between that directory and "setup.ini".
char pathSeparator();

}  // namespace vornix::platform
