// Test helper: drives a running vornix.exe from outside as an operator would.
// Usage: dialog_driver wait | about | close | run-mac | run-mac-boot | run-all | run-mac-scan SN | cancel-scan
//   run-mac ticks "MAC Writing" (run-mac-boot also enables and ticks "BOOT
//   Code Update"), presses Start, waits for the run to end and prints the
//   run log, one line each. run-mac-scan types SN into the serial prompt
//   Start opens, as a scanner does, and Enter; cancel-scan answers it with
//   Escape and checks that no run starts.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <fcntl.h>
#include <io.h>

#include "support/WindowSearch.h"

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    _setmode(_fileno(stdout), _O_BINARY);
    // The operator acts on the dialog once it is shown, that is once the
    // program has set it up; a closing one is hidden already.
    HWND dialog = vornix::test::findWindowWithIds(0, {1000, 1001, 1002, 1003, 1004, 1006}, 30000, true);
    if (!dialog) {
        std::fputs("dialog_driver: no Vornix dialog shown\n", stderr);
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
    const bool scan = !std::strcmp(argv[1], "run-mac-scan") && argc == 3, cancel = !std::strcmp(argv[1], "cancel-scan");
    if (!std::strcmp(argv[1], "run-mac") || !std::strcmp(argv[1], "run-mac-boot") || !std::strcmp(argv[1], "run-all") ||
        scan || cancel) {
        const bool all = !std::strcmp(argv[1], "run-all");
        const bool boot = all || !std::strcmp(argv[1], "run-mac-boot");
        HWND start = GetDlgItem(dialog, 1001), log = GetDlgItem(dialog, 1000);
        // Posted key presses click a control of another process.
        auto click = [](HWND control) {
            PostMessageA(control, WM_KEYDOWN, VK_SPACE, 32);
            PostMessageA(control, WM_KEYUP, VK_SPACE, 32);
        };
        auto tick = [&](int id) {
            HWND box = GetDlgItem(dialog, id);
            if (SendMessageA(box, BM_GETCHECK, 0, 0) == BST_CHECKED) return true;  // ticked by an earlier run
            click(box);
            return vornix::test::waitUntil([&] { return SendMessageA(box, BM_GETCHECK, 0, 0) == BST_CHECKED; }, 20000);
        };
        if (boot) EnableWindow(GetDlgItem(dialog, 1003), TRUE);  // the operator cannot; a test can
        if (all) EnableWindow(GetDlgItem(dialog, 1004), TRUE);
        if (!tick(1002) || (boot && !tick(1003)) || (all && !tick(1004))) {
            std::fputs("dialog_driver: a stage box did not tick\n", stderr);
            return 1;
        }
        click(start);
        if (scan || cancel) {
            DWORD process = 0;
            GetWindowThreadProcessId(dialog, &process);
            HWND prompt = vornix::test::findWindowWithIds(process, {1020, IDOK, IDCANCEL}, 20000, true);
            if (!prompt) {
                std::fputs("dialog_driver: Start asked for no serial\n", stderr);
                return 1;
            }
            HWND edit = GetDlgItem(prompt, 1020);
            if (scan)
                for (const char* c = argv[2]; *c; ++c) PostMessageA(edit, WM_CHAR, static_cast<unsigned char>(*c), 1);
            PostMessageA(edit, WM_KEYDOWN, scan ? VK_RETURN : VK_ESCAPE, 1);
            PostMessageA(edit, WM_KEYUP, scan ? VK_RETURN : VK_ESCAPE, 1);
            if (!vornix::test::waitUntil([&] { return !IsWindow(prompt); }, 20000)) {
                std::fputs("dialog_driver: the serial prompt stayed\n", stderr);
                return 1;
            }
            if (cancel) {
                Sleep(2000);
                const bool ran = !IsWindowEnabled(start) || SendMessageA(log, LB_GETCOUNT, 0, 0) > 0;
                if (ran) std::fputs("dialog_driver: a run started after Escape\n", stderr);
                return ran ? 1 : 0;
            }
        }
        // The run is over when Start, disabled for the stages, has been enabled
        // again for two seconds (between two stages it is so for a moment only);
        // a run that starts no stage never disables it.
        bool disabled = false;
        int enabledFor = 0;
        for (int i = 0; i < 3000; ++i) {
            Sleep(100);
            if (!IsWindowEnabled(start)) {
                disabled = true;
                enabledFor = 0;
            } else if (disabled && ++enabledFor >= 20) {
                break;
            }
            if (!disabled && i > 50 && SendMessageA(log, LB_GETCOUNT, 0, 0) > 0) break;
        }
        const int count = static_cast<int>(SendMessageA(log, LB_GETCOUNT, 0, 0));
        // Written as vornix-cli writes its log: a line break inside a line as "\r" or "\n".
        for (int i = 0; i < count; ++i) {
            std::string line;
            for (char c : vornix::test::listItem(log, i)) line += c == '\r' ? "\\r" : c == '\n' ? "\\n" : std::string(1, c);
            std::printf("%s\n", line.c_str());
        }
        return disabled ? 0 : 1;
    }
    if (!std::strcmp(argv[1], "close")) {
        if (HWND about = FindWindowA(nullptr, "About Vornix")) PostMessageA(about, WM_COMMAND, IDOK, 0);
        Sleep(200);
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        return 0;
    }
    return 2;
}
