#pragma once

#include <atomic>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

#ifdef _WIN32
#include <process.h>
#define VORNIX_TEST_PID _getpid()
#else
#include <unistd.h>
#define VORNIX_TEST_PID getpid()
#endif

namespace vornix::test {

// A fresh directory for one test, removed with everything in it afterwards.
class TempDir {
public:
    TempDir() {
        static std::atomic<int> counter{0};
        const auto base = std::filesystem::temp_directory_path();
        path_ = base / ("vornix-test-" + std::to_string(VORNIX_TEST_PID) + "-" + std::to_string(counter++));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string file(const std::string& name) const { return (path_ / name).string(); }

    std::string write(const std::string& name, const std::string& bytes) const {
        const std::string path = file(name);
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
        return path;
    }

private:
    std::filesystem::path path_;
};

// Empty when it cannot be read, also when it goes while it is read (a
// /proc file of a process that ends).
inline std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    try {
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    } catch (const std::exception&) {
        return std::string();
    }
}

}  // namespace vornix::test
