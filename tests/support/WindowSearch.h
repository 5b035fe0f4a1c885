#pragma once

// Test-side window search: a top-level window of a given process whose
// direct children carry a set of control ids.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

namespace vornix::test {

inline std::vector<unsigned> childIds(HWND window) {
    std::vector<unsigned> ids;
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        ids.push_back(static_cast<unsigned>(GetDlgCtrlID(child)) & 0xFFFFu);
    return ids;
}

// Polls until done() holds or timeoutMs have passed on the clock; true when it held.
template <typename Condition>
bool waitUntil(Condition done, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        if (done()) return true;
        if (GetTickCount64() >= deadline) return false;
        Sleep(20);
    }
}

// processId 0 searches every process. A window has its controls from its
// creation on, before its program has set it up and shown it: with visible,
// only a window already shown is taken.
inline HWND findWindowWithIds(DWORD processId, const std::vector<unsigned>& wanted, DWORD timeoutMs,
                              bool visible = false) {
    HWND found = nullptr;
    waitUntil(
        [&] {
            for (HWND w = GetWindow(GetDesktopWindow(), GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT)) {
                DWORD owner = 0;
                GetWindowThreadProcessId(w, &owner);
                if ((processId && owner != processId) || (visible && !IsWindowVisible(w))) continue;
                const std::vector<unsigned> ids = childIds(w);
                if (std::all_of(wanted.begin(), wanted.end(),
                                [&](unsigned id) { return std::find(ids.begin(), ids.end(), id) != ids.end(); })) {
                    found = w;
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
    return found;
}

inline std::string windowText(HWND window) {
    char text[512] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

inline std::string className(HWND window) {
    char name[128] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

// Another process's list box item, read without ever overrunning a buffer:
// Wine answers a cross-process LB_GETTEXT in UTF-16, so ask for it in UTF-16.
inline std::string listItem(HWND list, int index) {
    const LRESULT length = SendMessageW(list, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == LB_ERR || length < 0) return std::string();
    std::wstring wide(static_cast<std::size_t>(length) + 1, L'\0');
    const LRESULT got = SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&wide[0]));
    if (got == LB_ERR || got < 0 || got > length) return std::string();
    const int bytes = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(got), nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(got), &text[0], bytes, nullptr, nullptr);
    return text;
}

}  // namespace vornix::test
