#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vornix {

// ConfigPath lives in a 260-character buffer: at most 259 characters.
constexpr std::size_t maxConfigPathLength = 259;

// The current directory followed by the separator and "setup.ini", or nullopt
// when that does not fit: a cut path would name some other file.
std::optional<std::string> configPathFor(std::string_view currentDirectory, char separator);

}  // namespace vornix
