#include "platform/AtomicReplace.h"

#include <windows.h>

namespace vornix::platform {

bool replaceFileAtomically(const std::string& path, const std::string& bytes) {
    const std::string temporary = path + ".vornix-tmp";
    HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool ok = true;
    std::size_t done = 0;
    while (ok && done < bytes.size()) {
        const std::size_t left = bytes.size() - done;
        const DWORD chunk = left > 0x10000000u ? 0x10000000u : static_cast<DWORD>(left);
        DWORD written = 0;
        ok = WriteFile(file, bytes.data() + done, chunk, &written, nullptr) && written > 0;
        done += written;
    }
    if (ok) ok = FlushFileBuffers(file) != 0;
    if (!CloseHandle(file)) ok = false;
    // Another process reading the file (GetPrivateProfileString opens it
    // without sharing it for deleting) holds the replacement off for a
    // moment: tried again for a while, never given up on at the first refusal.
    for (int tries = 0; ok; ++tries) {
        if (MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) break;
        const DWORD error = GetLastError();
        if (tries >= 2000 ||
            (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED && error != ERROR_LOCK_VIOLATION))
            ok = false;
        else
            Sleep(5);
    }
    if (!ok) DeleteFileA(temporary.c_str());
    return ok;
}

}  // namespace vornix::platform
