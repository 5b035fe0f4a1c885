// Threads and descriptors of this (Linux) test process, for tests that must
// leave none behind.
#pragma once

#include <dirent.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <string>
#include <thread>

namespace vornix::test {

inline std::size_t entriesOf(const char* directory) {
    std::size_t count = 0;
    DIR* d = ::opendir(directory);
    if (!d) return 0;
    while (dirent* e = ::readdir(d)) count += e->d_name[0] != '.';
    ::closedir(d);
    return count;
}

inline std::size_t threadCount() { return entriesOf("/proc/self/task"); }
inline std::size_t descriptorCount() { return entriesOf("/proc/self/fd"); }

// Waits up to two seconds for the thread count to come down to `limit`: a
// thread that has just been joined can still be listed for a moment.
inline std::size_t threadsSettleTo(std::size_t limit) {
    for (int i = 0; i < 200 && threadCount() > limit; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return threadCount();
}

// The thread count before a test's own threads. A sanitizer starts a helper
// thread of its own with the first thread, so one is started and joined
// first, and the count is taken only once that thread has left the task list.
inline std::size_t baselineThreadCount() {
    long tid = 0;
    std::thread([&tid] { tid = ::syscall(SYS_gettid); }).join();
    const std::string entry = "/proc/self/task/" + std::to_string(tid);
    for (int i = 0; i < 200 && ::access(entry.c_str(), F_OK) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return threadCount();
}

}  // namespace vornix::test
