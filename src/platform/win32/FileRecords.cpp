#include "platform/FileRecords.h"

#include <windows.h>

#include <chrono>
#include <memory>
#include <thread>

#include "platform/TestHold.h"

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
// past any data, which no read or write of the file touches. The journal's
// writers take turns by the same byte.
constexpr DWORD heldByteHigh = 0x40000000;
constexpr DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE openShared(const std::string& path, DWORD access, DWORD disposition) {
    return CreateFileA(path.c_str(), access, shareAll, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool lockHeldByte(HANDLE file, DWORD flags) {
    OVERLAPPED at{};
    at.OffsetHigh = heldByteHigh;
    return LockFileEx(file, flags | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != FALSE;
}

bool hold(HANDLE file) { return lockHeldByte(file, LOCKFILE_EXCLUSIVE_LOCK); }

// The system lets a lock go with its handle, but not always at once.
void letGo(HANDLE file) {
    OVERLAPPED at{};
    at.OffsetHigh = heldByteHigh;
    UnlockFileEx(file, 0, 1, 0, &at);
    CloseHandle(file);
}

// Waits up to wait for the held byte.
bool takeTurn(HANDLE file, std::chrono::milliseconds wait, std::string& why) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        if (hold(file)) return true;
        const DWORD error = GetLastError();
        if (error != ERROR_LOCK_VIOLATION && error != ERROR_IO_PENDING) {
            why = reason();
            return false;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            why = "another process has held it for " + std::to_string(wait.count() / 1000) + " s";
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

class Win32HeldFile : public HeldFile {
public:
    Win32HeldFile(HANDLE file, std::string directory, std::string name)
        : file_(file), directory_(std::move(directory)), name_(std::move(name)) {}
    ~Win32HeldFile() override { letGo(file_); }

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
    // Shared for writing: a gang's ports end together and append at once,
    // taking turns by the held byte, so that the look at the last byte and
    // the write belong to one writer. Readers take no turn.
    HANDLE file = openShared(path, FILE_APPEND_DATA | GENERIC_READ, OPEN_ALWAYS);
    if (file == INVALID_HANDLE_VALUE) {
        why = reason();
        return false;
    }
    if (!takeTurn(file, journalWait_, why)) {
        CloseHandle(file);
        return false;
    }
    holdForTest("VORNIX_TEST_HOLD_JOURNAL_TURN");
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
    letGo(file);
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
    // Another process never finds it unheld: until it is locked, it is open
    // without sharing for deleting, and a claim asks for delete access, so
    // no start can open it, let alone take it for a killed run's.
    const std::string fresh = name + ".new";
    const std::string path = directory + "\\" + fresh;
    HANDLE made = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (made == INVALID_HANDLE_VALUE) {
        why = reason();
        return nullptr;
    }
    holdForTest("VORNIX_TEST_HOLD_BEFORE_LOCK");
    // The hold passes to a handle that shares deleting (the run renames the
    // file by its name): both hold the byte shared until the first lets go.
    HANDLE kept = INVALID_HANDLE_VALUE;
    const bool held = lockHeldByte(made, 0) &&
                      (kept = openShared(path, GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING)) != INVALID_HANDLE_VALUE &&
                      lockHeldByte(kept, 0);
    if (!held) why = reason();
    letGo(made);
    if (!held) {
        if (kept != INVALID_HANDLE_VALUE) CloseHandle(kept);
        DeleteFileA(path.c_str());
        return nullptr;
    }
    auto file = std::make_unique<Win32HeldFile>(kept, directory, fresh);
    holdForTest("VORNIX_TEST_HOLD_BEFORE_HEADING");
    // The heading on the disk before the name: a run's .open transcript
    // always tells which run it was.
    if (!file->append(heading, why) || !file->sync(why) || !file->rename(name, why)) {
        file.reset();
        DeleteFileA(path.c_str());
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
    // With delete access: a file still being made is not opened at all.
    HANDLE handle = openShared(path, GENERIC_READ | GENERIC_WRITE | DELETE, OPEN_EXISTING);
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
