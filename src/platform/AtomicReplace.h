#pragma once

#include <string>

namespace vornix::platform {

// Writes bytes to a sibling temporary file, flushes it to the disk and moves
// it over path in one step: a crash or power cut leaves the old file or the
// new one, never a cut one. False, with path untouched, on any failure.
bool replaceFileAtomically(const std::string& path, const std::string& bytes);

}  // namespace vornix::platform
