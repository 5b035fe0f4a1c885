#pragma once

#include <string>
#include <string_view>

namespace vornix {

// Replaces the file at path with bytes so that a crash at any moment leaves
// either the old file or the new one, complete. Supplied by the platform.
using ReplaceFile = bool (*)(const std::string& path, const std::string& bytes);

// The station's one way of writing setup.ini: the key's line becomes
// "key=value" (added where the profile functions would add it), every other
// line stays byte for byte, and the file is replaced atomically. False, with
// the file untouched, when it cannot be read, cannot be edited safely, or the
// replacement fails.
bool writeProfileValue(const std::string& path, std::string_view section, std::string_view key,
                       std::string_view value, ReplaceFile replace);

}  // namespace vornix
