#include "platform/FileRecords.h"

#include <windows.h>

#include <memory>

namespace vornix::platform {

namespace {

std::string reason() {
    const DWORD error = GetLastError();
    char text[256] = "";
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                        text, sizeof text, nullptr);
    std::string out(text, length);
    while (!out.empty() && (out.back() == '\r' || out.back() == '\n' || out.back() == ' ' || out.back() == '.'))
        out.pop_back();
    return out.empty() ? "error " + std::to_string(error) : out;
}

bool writeWhole(HANDLE file, const std::string& bytes) {
    DWORD written = 0;
    return WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size() && FlushFileBuffers(file);
}

bool makeDirectory(const std::string& directory, std::string& why) {
    if (CreateDirectoryA(directory.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS) return true;
    why = reason();
    return false;
}

// Every sharing allowed (a reader may look at a live transcript, and its
// owner may rename it while it is open); the hold is a lock on one byte far
// past any data, which no read or write of the file touches.
constexpr DWORD heldByteHigh = 0x40000000;
constexpr DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE openShared(const std::string& path, DWORD disposition) {
    return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, shareAll, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

bool hold(HANDLE file) {
    OVERLAPPED at{};
    at.OffsetHigh = heldByteHigh;
    return LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != FALSE;
}

class Win32HeldFile : public HeldFile {
public:
    Win32HeldFile(HANDLE file, std::string directory, std::string name)
        : file_(file), directory_(std::move(directory)), name_(std::move(name)) {}
    // Closing the handle releases its lock.
    ~Win32HeldFile() override { CloseHandle(file_); }

    bool append(const std::string& bytes, std::string& why) override {
        LARGE_INTEGER end{};
        DWORD written = 0;
        if (SetFilePointerEx(file_, end, nullptr, FILE_END) &&
            WriteFile(file_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written == bytes.size())
            return true;
        why = reason();
        return false;
    }
    bool sync(std::string& why) override {
        if (FlushFileBuffers(file_)) return true;
        why = reason();
        return false;
    }
    bool read(std::string& bytes, std::string& why) override {
        bytes.clear();
        LARGE_INTEGER start{};
        if (!SetFilePointerEx(file_, start, nullptr, FILE_BEGIN)) {
            why = reason();
            return false;
        }
        char buffer[65536];
        for (;;) {
            DWORD got = 0;
            if (!ReadFile(file_, buffer, sizeof buffer, &got, nullptr)) {
                why = reason();
                return false;
            }
            if (got == 0) return true;
            bytes.append(buffer, got);
        }
    }
    bool rename(const std::string& name, std::string& why) override {
        if (!MoveFileExA((directory_ + "\\" + name_).c_str(), (directory_ + "\\" + name).c_str(), 0)) {
            why = reason();
            return false;
        }
        name_ = name;
        return true;
    }
    // Shared for deleting: the name goes now, the file when it is let go.
    bool remove(std::string& why) override {
        if (DeleteFileA((directory_ + "\\" + name_).c_str())) return true;
        why = reason();
        return false;
    }
    HANDLE handle() const { return file_; }

private:
    HANDLE file_;
    std::string directory_, name_;
};

}  // namespace

bool FileRecords::appendLine(const std::string& path, const std::string& line, std::string& why) {
    HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA | GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        why = reason();
        return false;
    }
    // A process killed in the middle of its write left a torn last line:
    // the new record starts a line of its own.
    std::string bytes = line + "\n";
    LARGE_INTEGER size{};
    if (GetFileSizeEx(file, &size) && size.QuadPart > 0) {
        LARGE_INTEGER last{};
        last.QuadPart = size.QuadPart - 1;
        char c = '\n';
        DWORD got = 0;
        if (SetFilePointerEx(file, last, nullptr, FILE_BEGIN) && ReadFile(file, &c, 1, &got, nullptr) && got == 1 &&
            c != '\n')
            bytes.insert(0, "\n");
    }
    const bool ok = writeWhole(file, bytes);
    if (!ok) why = reason();
    CloseHandle(file);
    return ok;
}

bool FileRecords::writeNew(const std::string& directory, const std::string& name, const std::string& bytes,
                           std::string& why) {
    if (!makeDirectory(directory, why)) return false;
    HANDLE file = CreateFileA((directory + "\\" + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        why = reason();
        return false;
    }
    const bool ok = writeWhole(file, bytes);
    if (!ok) why = reason();
    CloseHandle(file);
    return ok;
}

std::unique_ptr<HeldFile> FileRecords::create(const std::string& directory, const std::string& name,
                                              const std::string& heading, std::string& why) {
    if (!makeDirectory(directory, why)) return nullptr;
    // Held before it has its name: another process never finds it unheld.
    const std::string fresh = name + ".new";
    HANDLE handle = openShared(directory + "\\" + fresh, CREATE_NEW);
    if (handle == INVALID_HANDLE_VALUE) {
        why = reason();
        return nullptr;
    }
    auto file = std::make_unique<Win32HeldFile>(handle, directory, fresh);
    // The heading on the disk before the name: a run's .open transcript
    // always tells which run it was.
    if (!hold(handle) || !file->append(heading, why) || !file->sync(why) || !file->rename(name, why)) {
        if (why.empty()) why = reason();
        file.reset();
        DeleteFileA((directory + "\\" + fresh).c_str());
        return nullptr;
    }
    return file;
}

std::vector<std::string> FileRecords::names(const std::string& directory, const std::string& suffix) {
    std::vector<std::string> found;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((directory + "\\*" + suffix).c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return found;
    do {
        // The pattern also matches short names: the long one decides.
        const std::string name = entry.cFileName;
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && name.size() > suffix.size() &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
            found.push_back(name);
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    return found;
}

std::unique_ptr<HeldFile> FileRecords::claim(const std::string& directory, const std::string& name) {
    const std::string path = directory + "\\" + name;
    HANDLE handle = openShared(path, OPEN_EXISTING);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    auto file = std::make_unique<Win32HeldFile>(handle, directory, name);
    if (!hold(handle)) return nullptr;  // its run is live
    // Its owner may have renamed it (its record written) before letting go.
    HANDLE named = CreateFileA(path.c_str(), 0, shareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (named == INVALID_HANDLE_VALUE) return nullptr;
    BY_HANDLE_FILE_INFORMATION a{}, b{};
    const bool same = GetFileInformationByHandle(handle, &a) && GetFileInformationByHandle(named, &b) &&
                      a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
                      a.nFileIndexLow == b.nFileIndexLow;
    CloseHandle(named);
    if (!same) return nullptr;
    return file;
}

}  // namespace vornix::platform
