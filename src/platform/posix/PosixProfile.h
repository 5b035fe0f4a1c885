#pragma once

#include <string>

#include "config/IniProfile.h"

namespace vornix::platform {

// setup.ini off Windows: the portable INI engine with the POSIX atomic replace.
class PosixProfile : public IniProfile {
public:
    explicit PosixProfile(std::string path);
};

}  // namespace vornix::platform
