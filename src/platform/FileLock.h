#pragma once

#include <memory>
#include <string>

namespace vornix::platform {

// An exclusive lock on a file, shared by the processes of one station (a
// gang's ports): held while the object lives, released by the system when
// the process ends, however it ends.
class HeldLock {
public:
    virtual ~HeldLock() = default;
};

// Waits up to timeoutMs for the lock on path (the file made when missing,
// never written). nullptr and why when not.
std::unique_ptr<HeldLock> lockFile(const std::string& path, int timeoutMs, std::string& why);

}  // namespace vornix::platform
