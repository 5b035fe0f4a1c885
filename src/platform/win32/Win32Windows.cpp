#include "platform/win32/Win32Windows.h"

#include <windows.h>

#include <vector>

namespace vornix::platform {

namespace {

HWND handle(WindowHandle window) { return reinterpret_cast<HWND>(window); }
WindowHandle wrap(HWND window) { return reinterpret_cast<WindowHandle>(window); }

// A message to another program that gives up when that program hangs or
// takes longer than the timeout. False then.
bool sendWaiting(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result, bool wide = false) {
    DWORD_PTR answer = 0;
    const UINT flags = SMTO_ABORTIFHUNG | SMTO_NORMAL;
    const LRESULT done =
        wide ? SendMessageTimeoutW(window, message, wParam, lParam, flags, Win32Windows::answerTimeoutMs, &answer)
             : SendMessageTimeoutA(window, message, wParam, lParam, flags, Win32Windows::answerTimeoutMs, &answer);
    result = static_cast<LRESULT>(answer);
    return done != 0;
}

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

void Win32Windows::show(WindowHandle window, int command) { ShowWindow(handle(window), command); }

bool Win32Windows::sendText(WindowHandle window, const std::string& text) {
    LRESULT ignored = 0;
    return sendWaiting(handle(window), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), ignored);
}

// Another program's list text is read in UTF-16, sized by LB_GETTEXTLEN, and
// converted to the ANSI code page: Wine answers a cross-process LB_GETTEXT
// sent as ANSI in UTF-16, twice the bytes asked for.
std::optional<std::string> Win32Windows::listText(WindowHandle list, int index) {
    if (!list) return std::string();
    LRESULT length = 0;
    if (!sendWaiting(handle(list), LB_GETTEXTLEN, static_cast<WPARAM>(index), 0, length, true)) return std::nullopt;
    if (length == LB_ERR || length < 0 || length > 1 << 20) return std::string();
    std::vector<wchar_t> wide(static_cast<std::size_t>(length) + 1, L'\0');
    LRESULT got = 0;
    if (!sendWaiting(handle(list), LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(wide.data()), got,
                     true))
        return std::nullopt;
    if (got == LB_ERR || got < 0 || got > length) return std::string();
    const int bytes = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(got), nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return std::string();
    std::string text(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(got), &text[0], bytes, nullptr, nullptr);
    return text;
}

bool Win32Windows::listSelect(WindowHandle list, int index) {
    LRESULT ignored = 0;
    return !list || sendWaiting(handle(list), LB_SETCURSEL, static_cast<WPARAM>(index), 0, ignored);
}

}  // namespace vornix::platform
