#include "platform/Adapters.h"

#include "platform/posix/PosixProfile.h"
#include "platform/posix/SocketEcho.h"

namespace vornix::platform {

std::unique_ptr<Profile> makeProfile(const std::string& path) { return std::make_unique<PosixProfile>(path); }

Adapters makeAdapters(const std::string& configPath, const RouterPort& port) {
    Adapters adapters;
    adapters.profile = makeProfile(configPath);
    adapters.echo = std::make_unique<SocketEcho>(port);
    return adapters;
}

}  // namespace vornix::platform
