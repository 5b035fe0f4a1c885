#pragma once

#include <string>

namespace vornix::platform {

// This computer's name, empty when the system does not tell it.
std::string hostName();

}  // namespace vornix::platform
