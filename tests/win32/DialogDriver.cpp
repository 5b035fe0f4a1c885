// Test helper for the screenshot run: drives a running vornix.exe from
// outside. Usage: dialog_driver wait | about | close
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "support/WindowSearch.h"

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    HWND dialog = vornix::test::findWindowWithIds(0, {1000, 1001, 1002, 1003, 1004, 1006}, 30000);
    if (!dialog) {
        std::fputs("dialog_driver: no Vornix dialog found\n", stderr);
        return 1;
    }
    if (!std::strcmp(argv[1], "wait")) return 0;
    if (!std::strcmp(argv[1], "about")) {
        PostMessageA(dialog, WM_SYSCOMMAND, 16, 0);
        for (int i = 0; i < 200; ++i) {
            if (HWND about = FindWindowA(nullptr, "About Vornix"); about && IsWindowVisible(about)) return 0;
            Sleep(50);
        }
        std::fputs("dialog_driver: the About box did not open\n", stderr);
        return 1;
    }
    if (!std::strcmp(argv[1], "close")) {
        if (HWND about = FindWindowA(nullptr, "About Vornix")) PostMessageA(about, WM_COMMAND, IDOK, 0);
        Sleep(200);
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        return 0;
    }
    return 2;
}
