#include "link/DetachedThread.h"

#include <thread>

namespace vornix::platform {

void startDetached(std::function<void()> work) { std::thread(std::move(work)).detach(); }

}  // namespace vornix::platform
