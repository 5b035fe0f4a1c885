#pragma once

#include "automation/ToolHost.h"

namespace vornix::platform {

// The flashing tool's registry entry under HKEY_LOCAL_MACHINE, WinExec, and
// a message box titled with the program's name.
class Win32ToolHost : public ToolHost {
public:
    bool readToolPath(const std::string& key, std::string& path) override;
    unsigned startHidden(const std::string& commandLine) override;
    void tellOperator(const std::string& text) override;
};

}  // namespace vornix::platform
