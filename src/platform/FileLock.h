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

// The lock on one byte of path, at offset, taken at once or not at all:
// many things (one per byte) are held through one file. nullptr with why
// empty while another holder has it; nullptr and why when it cannot be asked.
std::unique_ptr<HeldLock> tryLockByte(const std::string& path, unsigned offset, std::string& why);

}  // namespace vornix::platform
