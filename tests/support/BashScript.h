#pragma once

// The test beds' bash scripts (busybox-router, gang-bed), run to their end
// with their output kept in a log beside the bed, and what they share.
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "support/TempDir.h"

namespace vornix::test {

// text as one word of a shell command line.
inline std::string shellQuoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// bash script arguments, its output in log (read into output when given,
// then removed); its exit status, -1 when it did not exit.
inline int runBashScript(const std::string& script, const std::string& arguments, const std::string& log,
                         std::string* output = nullptr) {
    const std::string command = "bash " + shellQuoted(script) + " " + arguments + " > " + shellQuoted(log) + " 2>&1";
    const int raw = std::system(command.c_str());
    if (output) *output = readAll(log);
    std::error_code ignored;
    std::filesystem::remove(log, ignored);
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

// A boot image: a version line among bytes of every value, as a binary is.
inline std::string bootImage(std::size_t size) {
    std::string image = "\x7f" "BOOT image\nBOOTVERSION=1.2.3\n";
    unsigned state = 12345;
    while (image.size() < size) {
        state = state * 1103515245u + 12345u;
        image += static_cast<char>(state >> 16);
    }
    return image;
}

}  // namespace vornix::test
