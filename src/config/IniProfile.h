#pragma once

#include <string>

#include "config/Profile.h"
#include "config/ProfileWriter.h"

namespace vornix {

// The portable profile back end: our own INI engine, answering as the Windows
// profile functions do, and the crash-safe writer.
class IniProfile : public Profile {
public:
    IniProfile(std::string path, ReplaceFile replace);

    std::string read(const char* section, const char* key, const char* defaultValue,
                     std::size_t bufferSize) override;
    bool write(const char* section, const char* key, const std::string& value) override;

    const std::string& path() const { return path_; }

private:
    std::string path_;
    ReplaceFile replace_;
};

}  // namespace vornix
