#include "config/FileBytes.h"

#include <cerrno>
#include <cstdio>

namespace vornix {

FileRead readFileBytes(const std::string& path, std::string& bytes) {
    bytes.clear();
    errno = 0;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return errno == ENOENT ? FileRead::Missing : FileRead::Failed;
    char chunk[8192];
    FileRead result = FileRead::Ok;
    for (;;) {
        const std::size_t got = std::fread(chunk, 1, sizeof chunk, file);
        if (bytes.size() + got > maxProfileFileBytes) {
            result = FileRead::Failed;
            break;
        }
        bytes.append(chunk, got);
        if (got < sizeof chunk) {
            if (std::ferror(file)) result = FileRead::Failed;
            break;
        }
    }
    std::fclose(file);
    if (result != FileRead::Ok) bytes.clear();
    return result;
}

}  // namespace vornix
