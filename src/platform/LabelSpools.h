#pragma once

#include <memory>
#include <string>

#include "station/LabelSpool.h"

namespace vornix::platform {

// This system's label spool: dir: paths relative to directory (the
// station's), files named after the label with separator.
std::unique_ptr<LabelSpool> makeLabelSpool(const std::string& directory, char separator);

// A label's name as a file name on every system: its run's id with every
// character but letters, digits, '.' and '-' as '_', and ".zpl".
inline std::string labelFileName(const std::string& name) {
    std::string file;
    for (char c : name) {
        const bool kept =
            (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-';
        file += kept ? c : '_';
    }
    return file + ".zpl";
}

}  // namespace vornix::platform
