#include "platform/win32/Win32Profile.h"

#include <windows.h>

#include <utility>
#include <vector>

#include "config/ProfileWriter.h"
#include "platform/AtomicReplace.h"

namespace vornix::platform {

Win32Profile::Win32Profile(std::string path) : path_(std::move(path)) {}

std::string Win32Profile::read(const char* section, const char* key, const char* defaultValue,
                               std::size_t bufferSize) {
    if (bufferSize == 0) return std::string();
    std::vector<char> buffer(bufferSize + 1, '\0');
    const DWORD length = GetPrivateProfileStringA(section, key, defaultValue ? defaultValue : "",
                                                  buffer.data(), static_cast<DWORD>(bufferSize),
                                                  path_.c_str());
    return std::string(buffer.data(), length < bufferSize ? length : bufferSize - 1);
}

bool Win32Profile::write(const char* section, const char* key, const std::string& value) {
    return writeProfileValue(path_, section, key, value, &replaceFileAtomically);
}

}  // namespace vornix::platform
