#include "config/ConfigPath.h"

namespace vornix {

std::optional<std::string> configPathFor(std::string_view currentDirectory, char separator) {
    std::string path(currentDirectory);
    path += separator;
    path += "setup.ini";
    if (path.size() > maxConfigPathLength) return std::nullopt;
    return path;
}

}  // namespace vornix
