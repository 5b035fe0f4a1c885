#pragma once

#include <string>

#include "config/Profile.h"

namespace vornix::platform {

// setup.ini on Windows: reads through GetPrivateProfileStringA, writes through
// our crash-safe writer (the system's own writer truncates the file first).
class Win32Profile : public Profile {
public:
    explicit Win32Profile(std::string path);

    std::string read(const char* section, const char* key, const char* defaultValue,
                     std::size_t bufferSize) override;
    bool write(const char* section, const char* key, const std::string& value) override;

private:
    std::string path_;
};

}  // namespace vornix::platform
