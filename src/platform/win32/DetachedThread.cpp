#include "link/DetachedThread.h"

#include <windows.h>
#include <process.h>

#include <cerrno>
#include <exception>
#include <memory>
#include <system_error>

namespace vornix::platform {

namespace {

unsigned __stdcall runWork(void* argument) {
    const std::unique_ptr<std::function<void()>> work(static_cast<std::function<void()>*>(argument));
    // As a std::thread: an exception that leaves the work ends the program.
    try {
        (*work)();
    } catch (...) {
        std::terminate();
    }
    return 0;
}

}  // namespace

void startDetached(std::function<void()> work) {
    auto owned = std::make_unique<std::function<void()>>(std::move(work));
    const uintptr_t thread = _beginthreadex(nullptr, 0, &runWork, owned.get(), 0, nullptr);
    if (thread == 0) {
        const int error = errno != 0 ? errno : EAGAIN;
        throw std::system_error(error, std::generic_category(), "cannot start a thread");
    }
    owned.release();  // the thread's now
    CloseHandle(reinterpret_cast<HANDLE>(thread));
}

}  // namespace vornix::platform
