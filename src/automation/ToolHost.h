#pragma once

#include <string>

namespace vornix {

// What starting the flashing tool needs of the system: its registry entry,
// starting a program, and telling the operator.
class ToolHost {
public:
    virtual ~ToolHost() = default;
    // The value "Path" of HKEY_LOCAL_MACHINE\key; false when it cannot be read.
    virtual bool readToolPath(const std::string& key, std::string& path) = 0;
    // Starts the command line hidden; the system's result code (WinExec's).
    virtual unsigned startHidden(const std::string& commandLine) = 0;
    // A message box with an OK button; returns when the operator closed it.
    virtual void tellOperator(const std::string& text) = 0;
};

}  // namespace vornix
