#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace vornix {

// Sees every byte the station's telnet connections carry, both ways, for a
// run's transcript. Called from the procedure's and the collectors' threads.
class WireTap {
public:
    virtual ~WireTap() = default;
    // connection: a number of this process, new for each connect.
    virtual void opened(int connection, const std::string& host, int port, bool connected) = 0;
    virtual void sent(int connection, const char* bytes, std::size_t size) = 0;
    virtual void received(int connection, const char* bytes, std::size_t size) = 0;
    virtual void closed(int connection) = 0;
};

// The tap of the run going on; none (nullptr) by default.
void setWireTap(std::shared_ptr<WireTap> tap);
std::shared_ptr<WireTap> wireTap();

}  // namespace vornix
