#include "platform/FileLock.h"

#include <windows.h>

#include <chrono>
#include <thread>

#include "platform/win32/ErrorClause.h"

namespace vornix::platform {

namespace {

class Win32Lock : public HeldLock {
public:
    explicit Win32Lock(HANDLE file) : file_(file) {}
    ~Win32Lock() override { CloseHandle(file_); }

private:
    HANDLE file_;
};

}  // namespace

std::unique_ptr<HeldLock> lockFile(const std::string& path, int timeoutMs, std::string& why) {
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        why = "cannot open " + path + errorClause(GetLastError());
        return nullptr;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        OVERLAPPED at{};
        if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at))
            return std::make_unique<Win32Lock>(file);
        const DWORD error = GetLastError();
        if (error != ERROR_LOCK_VIOLATION && error != ERROR_IO_PENDING) {
            why = "cannot lock " + path + errorClause(error);
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            why = "another process has held " + path + " for " + std::to_string(timeoutMs / 1000) + " s";
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    CloseHandle(file);
    return nullptr;
}

std::unique_ptr<HeldLock> tryLockByte(const std::string& path, unsigned offset, std::string& why) {
    why.clear();
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        why = "cannot open " + path + errorClause(GetLastError());
        return nullptr;
    }
    OVERLAPPED at{};
    at.Offset = offset;
    if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at))
        return std::make_unique<Win32Lock>(file);
    const DWORD error = GetLastError();
    if (error != ERROR_LOCK_VIOLATION && error != ERROR_IO_PENDING) why = "cannot lock " + path + errorClause(error);
    CloseHandle(file);
    return nullptr;
}

}  // namespace vornix::platform
