#pragma once

#include <cstddef>
#include <string>

namespace vornix {

// The profile port: how the station reads and writes setup.ini. One object
// stands for one file; every call goes to the file afresh.
class Profile {
public:
    virtual ~Profile() = default;

    // The key's value cut to bufferSize - 1 bytes, or the default when the
    // key, its section or the file is absent (defaultValue nullptr: empty).
    virtual std::string read(const char* section, const char* key, const char* defaultValue,
                             std::size_t bufferSize) = 0;

    // Sets the key, adding it (and its section) when absent, and leaves every
    // other line as it was. Either the old or the new file survives a crash.
    virtual bool write(const char* section, const char* key, const std::string& value) = 0;
};

}  // namespace vornix
