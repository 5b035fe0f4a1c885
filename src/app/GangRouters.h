#pragma once

#include <string>
#include <vector>

#include "station/Pause.h"

namespace vornix {

// Which router each port of one gang run reached, in a file beside
// setup.ini that the run's processes share. The gang names the ports that
// run and says when each has ended; a port adds the hardware address its own
// interface reached, then waits until every other port has added its own or
// ended, so that two ports that reach one router both stop before either
// writes to it.
class GangRouters {
public:
    // The file of the gang run tagged tag, in directory.
    GangRouters(const std::string& directory, char separator, const std::string& tag);

    // The gang's side: the ports that run, before any starts; a port's end.
    bool begin(const std::vector<int>& ports, std::string& why);
    void ended(int port);
    void remove();

    // A port's side: what its interface reached (empty: nothing), then the
    // wait for the others, at most limitMs (in steps of the pause). Empty
    // when no other port reached that router, else the port's failure line.
    std::string reached(int port, const std::string& interfaceName, const std::string& router,
                        const std::string& hardware, Pause& pause, int limitMs = 60000);

    // A port's line when its own interface reached no router: its packets
    // left by another port.
    static std::string elsewhereLine(int port, const std::string& interfaceName, const std::string& router);

    const std::string& path() const { return path_; }

private:
    std::string path_;
};

}  // namespace vornix
