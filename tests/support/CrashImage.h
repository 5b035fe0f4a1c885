#pragma once

#include <cstdio>
#include <string>

namespace vornix::test {

inline std::string macFor(int n) {
    char text[18];
    std::snprintf(text, sizeof text, "00:11:22:%02X:%02X:%02X", (n >> 16) & 0xFF, (n >> 8) & 0xFF, n & 0xFF);
    return text;
}

// A setup.ini whose start_mac is macFor(n), with enough comment lines that
// writing it takes a while, so that kills land in the middle of a write.
inline std::string crashImage(int n) {
    static const std::string padding = [] {
        std::string s;
        for (int i = 0; i < 20000; ++i) s += "; filler line " + std::to_string(i) + " keeps the write slow\r\n";
        return s;
    }();
    return "[SETUP]\r\nCPE_LAN_IP=192.168.1.1\r\n\r\n[WRITE_MAC]\r\npath=/var/tmp/mac\r\nnumber=2\r\nstart_mac=" +
           macFor(n) + "\r\n0=ethaddr\r\n" + padding + "[WRITE_ENV]\r\nnumber=0\r\n";
}

}  // namespace vornix::test
