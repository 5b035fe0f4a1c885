#pragma once

#include <functional>

namespace vornix::platform {

// Runs work on a thread of its own that nobody joins; throws
// std::system_error when no thread can be made, as std::thread does.
// On Windows the thread is the C runtime's own (_beginthreadex): under Wine a
// std::thread detached before it has begun to run was at times never run,
// which left a run waiting for its stage forever.
void startDetached(std::function<void()> work);

}  // namespace vornix::platform
