#pragma once

#include <windows.h>

#include <string>

namespace vornix::platform {

// A Windows error code as " (error N: the system's text)", for a why.
inline std::string errorClause(unsigned long code) {
    char text[256] = "";
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                                  sizeof text, nullptr);
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == ' ' ||
                          text[length - 1] == '.'))
        text[--length] = '\0';
    std::string clause = " (error " + std::to_string(code);
    if (length > 0) clause += std::string(": ") + text;
    return clause + ")";
}

}  // namespace vornix::platform
