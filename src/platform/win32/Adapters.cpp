#include "platform/Adapters.h"

#include "platform/win32/ConfigManagerTree.h"
#include "platform/win32/IcmpEcho.h"
#include "platform/win32/Win32Profile.h"
#include "platform/win32/Win32ToolHost.h"
#include "platform/win32/Win32Windows.h"

namespace vornix::platform {

std::unique_ptr<Profile> makeProfile(const std::string& path) { return std::make_unique<Win32Profile>(path); }

Adapters makeAdapters(const std::string& configPath, const RouterPort& port) {
    Adapters adapters;
    adapters.profile = makeProfile(configPath);
    adapters.echo = std::make_unique<IcmpEcho>(port);
    adapters.windows = std::make_unique<Win32Windows>();
    adapters.toolHost = std::make_unique<Win32ToolHost>();
    adapters.devices = std::make_unique<ConfigManagerTree>();
    return adapters;
}

}  // namespace vornix::platform
