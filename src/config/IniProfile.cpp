#include "config/IniProfile.h"

#include <utility>

#include "config/FileBytes.h"
#include "config/IniDocument.h"

namespace vornix {

IniProfile::IniProfile(std::string path, ReplaceFile replace)
    : path_(std::move(path)), replace_(replace) {}

std::string IniProfile::read(const char* section, const char* key, const char* defaultValue,
                             std::size_t bufferSize) {
    std::string bytes;
    std::optional<std::string> value;
    if (readFileBytes(path_, bytes) == FileRead::Ok) value = IniDocument(std::move(bytes)).find(section, key);
    return profileResult(value, defaultValue, bufferSize);
}

bool IniProfile::write(const char* section, const char* key, const std::string& value) {
    return writeProfileValue(path_, section, key, value, replace_);
}

}  // namespace vornix
