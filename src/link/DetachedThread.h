#pragma once

#include <functional>

// Declared here for the link's collectors, implemented for each system in
// src/platform like the socket calls of link/Net.h.
namespace vornix::platform {

// Runs work on a thread of its own that nobody joins; throws
// std::system_error when no thread can be made, as std::thread does.
// On Windows the thread is the C runtime's own (_beginthreadex): under Wine a
// std::thread detached before it has begun to run was at times never run,
// which left a run waiting for its stage forever.
void startDetached(std::function<void()> work);

}  // namespace vornix::platform
