#pragma once

#include <memory>
#include <string>

#include "automation/DeviceTree.h"
#include "automation/ToolHost.h"
#include "automation/WindowSystem.h"
#include "config/Profile.h"
#include "link/EchoPort.h"
#include "config/RouterPort.h"

namespace vornix::platform {

// The ports' adapters of this system, made in one place. Where the vendor's
// flashing tool cannot run (off Windows), windows, toolHost and devices are
// null.
struct Adapters {
    std::unique_ptr<Profile> profile;
    std::unique_ptr<EchoPort> echo;
    std::unique_ptr<WindowSystem> windows;
    std::unique_ptr<ToolHost> toolHost;
    std::unique_ptr<DeviceTree> devices;
};

// port: a gang station's port, which the echo goes through; none on a
// one-port station.
Adapters makeAdapters(const std::string& configPath, const RouterPort& port = RouterPort());

// setup.ini at path, read and written the way this system's station does.
std::unique_ptr<Profile> makeProfile(const std::string& path);

}  // namespace vornix::platform
