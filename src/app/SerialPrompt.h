#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace vornix {

// The unit's serial, asked in a small modal box over owner: what was
// scanned or typed when OK or Enter ends it, nullopt when Cancel or Escape
// does (the run is not started).
std::optional<std::string> askSerial(HINSTANCE instance, HWND owner);

}  // namespace vornix
