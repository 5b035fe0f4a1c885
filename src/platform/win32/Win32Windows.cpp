#include "platform/win32/Win32Windows.h"

#include <windows.h>

namespace vornix::platform {

namespace {
HWND handle(WindowHandle window) { return reinterpret_cast<HWND>(window); }
WindowHandle wrap(HWND window) { return reinterpret_cast<WindowHandle>(window); }
}  // namespace

WindowHandle Win32Windows::desktop() { return wrap(GetDesktopWindow()); }
WindowHandle Win32Windows::firstChild(WindowHandle window) { return wrap(GetWindow(handle(window), GW_CHILD)); }
WindowHandle Win32Windows::next(WindowHandle window) { return wrap(GetWindow(handle(window), GW_HWNDNEXT)); }
WindowHandle Win32Windows::last(WindowHandle window) { return wrap(GetWindow(handle(window), GW_HWNDLAST)); }
int Win32Windows::controlId(WindowHandle window) { return GetDlgCtrlID(handle(window)); }
WindowHandle Win32Windows::dialogItem(WindowHandle window, int id) { return wrap(GetDlgItem(handle(window), id)); }

void Win32Windows::post(WindowHandle window, unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
    PostMessageA(handle(window), message, static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam));
}

void Win32Windows::sendText(WindowHandle window, const std::string& text) {
    SendMessageA(handle(window), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void Win32Windows::show(WindowHandle window, int command) { ShowWindow(handle(window), command); }

}  // namespace vornix::platform
