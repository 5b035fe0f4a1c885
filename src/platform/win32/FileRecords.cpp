#include "platform/FileRecords.h"

#include <windows.h>

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
    if (!CreateDirectoryA(directory.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        why = reason();
        return false;
    }
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

}  // namespace vornix::platform
