#include "config/ProfileWriter.h"

#include "config/FileBytes.h"
#include "config/IniDocument.h"

namespace vornix {

bool writeProfileValue(const std::string& path, std::string_view section, std::string_view key,
                       std::string_view value, ReplaceFile replace) {
    std::string bytes;
    const FileRead got = readFileBytes(path, bytes);
    if (got == FileRead::Failed) return false;
    const std::optional<std::string> edited = IniDocument(bytes).withValue(section, key, value);
    if (!edited) return false;
    if (got == FileRead::Ok && *edited == bytes) return true;
    return replace(path, *edited);
}

}  // namespace vornix
