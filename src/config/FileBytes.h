#pragma once

#include <cstddef>
#include <string>

namespace vornix {

enum class FileRead { Ok, Missing, Failed };

// Station files are small; anything bigger than this is not a setup.ini and
// is refused rather than read into memory.
constexpr std::size_t maxProfileFileBytes = 16u * 1024u * 1024u;

// Reads the whole file. Missing only when it does not exist; every other
// failure (no permission, a directory, a read error, too big) is Failed, so a
// writer never mistakes an unreadable file for an empty one.
FileRead readFileBytes(const std::string& path, std::string& bytes);

}  // namespace vornix
