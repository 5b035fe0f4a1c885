#include "platform/posix/PosixProfile.h"

#include <utility>

#include "platform/AtomicReplace.h"

namespace vornix::platform {

PosixProfile::PosixProfile(std::string path) : IniProfile(std::move(path), &replaceFileAtomically) {}

}  // namespace vornix::platform
