#pragma once

#include <string>

namespace vornix::test {

// A program of the build tree, named by its build path. Under Wine the
// tree's Unix path is reached through the Z: drive.
inline std::string buildPath(std::string path) {
#ifdef _WIN32
    if (!path.empty() && path[0] == '/') path = "Z:" + path;
    for (char& c : path)
        if (c == '/') c = '\\';
#endif
    return path;
}

}  // namespace vornix::test
