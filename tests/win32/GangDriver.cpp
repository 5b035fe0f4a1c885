// Test helper: drives a running gang window of vornix.exe from outside, as
// an operator would, and reads its tiles through their controls.
// Usage: gang_driver wait | start | escape-no | escape-yes | wait-mac | wait-done | log K | log-close | close
//   wait       the window is shown and ready (Start enabled)
//   start      ticks "MAC Writing", presses Enter, waits until a port writes
//   escape-no  presses Escape while ports run, prints the question asked,
//              answers No and checks that the window and the run go on
//   escape-yes presses Escape while ports run, answers Yes: the window ends
//   wait-mac   waits until a port has written its first MAC
//   wait-done  waits until every port's run is over
//   log K      double-clicks port K's tile and prints its run log, left open
//   log-close  closes the run log
//   close      presses Escape when nothing runs: the window ends unasked
//   scan SN    types SN into the scan field as a scanner does, then Enter
//   clear K    clicks port K's serial
// Every command but close ends by printing the tiles, one line each:
//   K|title|state|stage|first MAC|time|last line|serial
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <fcntl.h>
#include <io.h>

#include "support/WindowSearch.h"

namespace {

using vornix::test::waitUntil;
using vornix::test::windowText;

constexpr int tileBase = 2000;

HWND tile(HWND window, int port) { return GetDlgItem(window, tileBase + port); }
// Empty for a part the tile does not have (a serial, on a station without).
std::string tileText(HWND window, int port, int part) {
    HWND control = GetDlgItem(tile(window, port), part);
    return control ? windowText(control) : std::string();
}

// Posted keys reach the dialog's own keyboard handling, as typed ones do.
void press(HWND control, WPARAM key) {
    PostMessageA(control, WM_KEYDOWN, key, 1);
    PostMessageA(control, WM_KEYUP, key, 1);
}

bool anyRunning(HWND window) {
    for (int port = 1; port <= 8 && tile(window, port); ++port)
        if (tileText(window, port, 2).rfind("RUNNING", 0) == 0) return true;
    return false;
}

void printTiles(HWND window) {
    for (int port = 1; port <= 8 && tile(window, port); ++port) {
        std::printf("%d", port);
        for (int part : {1, 2, 6, 3, 4, 5, 7}) std::printf("|%s", tileText(window, port, part).c_str());
        std::printf("\n");
    }
    std::printf("summary|%s\n", windowText(GetDlgItem(window, 1010)).c_str());
}

// A message box of the window's process, other than the window itself.
HWND messageBox(HWND window) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    for (HWND w = GetWindow(GetDesktopWindow(), GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        if (w != window && owner == process && IsWindowVisible(w) && vornix::test::className(w) == "#32770" &&
            GetDlgItem(w, 0xFFFF))
            return w;
    }
    return nullptr;
}

int fail(const char* what) {
    std::fprintf(stderr, "gang_driver: %s\n", what);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    _setmode(_fileno(stdout), _O_BINARY);
    const std::string command = argv[1];
    HWND window = vornix::test::findWindowWithIds(0, {1001, 1002, 1003, 1004, 1010, 2001}, 30000, true);
    if (!window) return fail("no gang window shown");
    HWND macBox = GetDlgItem(window, 1002), start = GetDlgItem(window, 1001);

    if (command == "start") {
        // Start waits while the window records runs killed before it opened.
        if (!waitUntil([&] { return IsWindowEnabled(start) != FALSE; }, 60000)) return fail("Start stayed disabled");
        if (SendMessageA(macBox, BM_GETCHECK, 0, 0) != BST_CHECKED) {
            press(macBox, VK_SPACE);
            if (!waitUntil([&] { return SendMessageA(macBox, BM_GETCHECK, 0, 0) == BST_CHECKED; }, 20000))
                return fail("the MAC Writing box did not tick");
        }
        press(macBox, VK_RETURN);  // Enter, with the focus on a box: the default button, Start
        if (!waitUntil([&] {
                for (int port = 1; port <= 8 && tile(window, port); ++port)
                    if (tileText(window, port, 6) == "Stage: MAC Writing") return true;
                return false;
            }, 60000))
            return fail("no port came to write its router");
        if (IsWindowEnabled(start)) return fail("Start is enabled while the ports run");
    } else if (command == "escape-no" || command == "escape-yes") {
        if (!anyRunning(window)) return fail("no port is running to ask about");
        press(macBox, VK_ESCAPE);
        HWND box = nullptr;
        if (!waitUntil([&] { return (box = messageBox(window)) != nullptr; }, 20000))
            return fail("Escape while ports run asked nothing");
        std::string question = windowText(GetDlgItem(box, 0xFFFF));
        for (char& c : question)
            if (c == '\n') c = ' ';
        std::printf("question|%s\n", question.c_str());
        const bool yes = command == "escape-yes";
        PostMessageA(box, WM_COMMAND, yes ? IDYES : IDNO, 0);
        if (!waitUntil([&] { return !IsWindow(box); }, 20000)) return fail("the question did not go");
        if (yes) return waitUntil([&] { return !IsWindow(window); }, 20000) ? 0 : fail("the window stayed after Yes");
        Sleep(500);
        if (!IsWindow(window) || !IsWindowVisible(window)) return fail("the window ended after No");
    } else if (command == "wait-mac") {
        if (!waitUntil([&] {
                for (int port = 1; port <= 8 && tile(window, port); ++port)
                    if (tileText(window, port, 3) != "First MAC: -") return true;
                return false;
            }, 60000))
            return fail("no port wrote a MAC");
    } else if (command == "wait-done") {
        if (!waitUntil([&] { return !anyRunning(window) && IsWindowEnabled(start); }, 240000))
            return fail("the ports' runs did not end");
    } else if (command == "log" && argc == 3) {
        const int port = std::atoi(argv[2]);
        PostMessageA(tile(window, port), WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(20, 20));
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        HWND log = vornix::test::findWindowWithIds(process, {1000, IDOK}, 20000, true);
        if (!log) return fail("a double click on the tile showed no log");
        std::printf("log caption|%s\n", windowText(log).c_str());
        HWND list = GetDlgItem(log, 1000);
        const int count = static_cast<int>(SendMessageA(list, LB_GETCOUNT, 0, 0));
        // Written as vornix-cli writes its log: a line break inside a line as "\r" or "\n".
        for (int i = 0; i < count; ++i) {
            std::string line;
            for (char c : vornix::test::listItem(list, i)) line += c == '\r' ? "\\r" : c == '\n' ? "\\n" : std::string(1, c);
            std::printf("log|%s\n", line.c_str());
        }
    } else if (command == "log-close") {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        HWND log = vornix::test::findWindowWithIds(process, {1000, IDOK}, 20000, true);
        if (!log) return fail("no run log is shown");
        PostMessageA(log, WM_COMMAND, IDOK, 0);
        if (!waitUntil([&] { return !IsWindow(log); }, 20000)) return fail("the log did not close");
    } else if (command == "close") {
        press(macBox, VK_ESCAPE);
        if (!waitUntil([&] { return !IsWindow(window); }, 20000)) {
            if (messageBox(window)) return fail("Escape asked although no port runs");
            return fail("Escape did not end the window");
        }
        return 0;
    } else if (command == "scan" && argc == 3) {
        HWND scan = GetDlgItem(window, 1021);
        if (!scan) return fail("no scan field");
        const std::string before = windowText(GetDlgItem(window, 1010));
        for (const char* c = argv[2]; *c; ++c) PostMessageA(scan, WM_CHAR, static_cast<unsigned char>(*c), 1);
        press(scan, VK_RETURN);
        if (!waitUntil([&] { return windowText(GetDlgItem(window, 1010)) != before; }, 20000))
            return fail("the scan said nothing");
        std::printf("said|%s\n", windowText(GetDlgItem(window, 1010)).c_str());
    } else if (command == "clear" && argc == 3) {
        const int port = std::atoi(argv[2]);
        HWND serial = GetDlgItem(tile(window, port), 7);
        if (!serial) return fail("the tile shows no serial");
        PostMessageA(serial, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
        PostMessageA(serial, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
        if (!waitUntil([&] { return windowText(serial) == "Serial: -"; }, 20000)) return fail("the serial stayed");
    } else if (command == "wait") {
        if (!waitUntil([&] { return IsWindowEnabled(start) != FALSE; }, 60000)) return fail("Start stayed disabled");
    } else {
        return 2;
    }
    printTiles(window);
    return 0;
}
