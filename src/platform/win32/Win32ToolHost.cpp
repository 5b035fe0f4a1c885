#include "platform/win32/Win32ToolHost.h"

#include <windows.h>

namespace vornix::platform {

bool Win32ToolHost::readToolPath(const std::string& key, std::string& path) {
    HKEY opened = nullptr;
    // The tool is a 32-bit program: its installer writes the 32-bit view.
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ | KEY_WOW64_32KEY, &opened) != ERROR_SUCCESS)
        return false;
    char buffer[260] = {};
    DWORD size = sizeof buffer;
    const LONG result =
        RegQueryValueExA(opened, "Path", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(opened);
    if (result != ERROR_SUCCESS) return false;
    buffer[sizeof buffer - 1] = '\0';  // a value that fills the buffer has no terminator of its own
    path = buffer;
    return true;
}

unsigned Win32ToolHost::startHidden(const std::string& commandLine) {
    return WinExec(commandLine.c_str(), SW_HIDE);
}

// Above the dialog, which is topmost itself: a box behind it would hold the
// stage with nobody seeing why.
void Win32ToolHost::tellOperator(const std::string& text) {
    MessageBoxA(nullptr, text.c_str(), "Vornix", MB_OK | MB_TOPMOST | MB_SETFOREGROUND);
}

}  // namespace vornix::platform
