// flashsim: a stand-in for the vendor's flashing tool ("TI App"), with the
// windows and controls the station drives: a property sheet whose page logs
// in to the router, takes boot entries, a script and a firmware image, and
// shows a notice when the image is written. Every step it takes is appended
// to flashsim.log beside the program, for tests to read.
//
// Switches, for rehearsing with a tool that is slow or broken:
//   --late MS          every dialog a press opens comes MS later
//   --no-entry-editor  the entry editor never opens
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

int lateMs = 0;
bool entryEditorOpens = true;

// Timers of the dialogs a press opens when they come late.
constexpr UINT_PTR noticeTimer = 1, entriesTimer = 2, scriptTimer = 3, imageTimer = 4, entryEditTimer = 5;

// The work of a press, done now or, for a slow tool, lateMs later.
bool later(HWND window, UINT_PTR timer) {
    if (lateMs <= 0) return false;
    SetTimer(window, timer, static_cast<UINT>(lateMs), nullptr);
    return true;
}

std::string logPath() {
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string text = path;
    return text.substr(0, text.find_last_of("\\/") + 1) + "flashsim.log";
}

void note(const std::string& line) {
    if (std::FILE* file = std::fopen(logPath().c_str(), "ab")) {
        std::fprintf(file, "%s\n", line.c_str());
        std::fclose(file);
    }
}

std::string itemText(HWND dialog, int id) {
    char text[1024] = "";
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

// The router answers on its telnet port with its login banner: that is what
// logging in checks.
bool routerAnswers(const std::string& address) {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(23);
    at.sin_addr.s_addr = inet_addr(address.c_str());
    bool ok = s != INVALID_SOCKET && at.sin_addr.s_addr != INADDR_NONE &&
              connect(s, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0;
    if (ok) {
        DWORD timeout = 3000;
        setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
        char banner[512];
        ok = recv(s, banner, sizeof banner, 0) > 0;
    }
    if (s != INVALID_SOCKET) closesocket(s);
    WSACleanup();
    return ok;
}

UINT_PTR CALLBACK plainHook(HWND, UINT, WPARAM, LPARAM) { return 0; }

// The old-style file dialog (its controls 1088 to 1152); the path typed into
// 1152 comes back.
std::string chooseFile(HWND owner, const char* title) {
    char file[MAX_PATH] = "";
    OPENFILENAMEA open{};
    open.lStructSize = sizeof open;
    open.hwndOwner = owner;
    open.lpstrFile = file;
    open.nMaxFile = MAX_PATH;
    open.lpstrTitle = title;
    open.Flags = OFN_ENABLEHOOK;
    open.lpfnHook = plainHook;
    return GetOpenFileNameA(&open) ? std::string(file) : std::string();
}

INT_PTR CALLBACK entryEditProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) return TRUE;
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        if (LOWORD(wParam) == IDOK) note("entry " + itemText(dialog, 1031) + " " + itemText(dialog, 1033));
        EndDialog(dialog, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

void openEntryEditor(HWND dialog) {
    if (entryEditorOpens) DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(220), dialog, entryEditProc, 0);
    else note("entry editor not opened");
}

INT_PTR CALLBACK entriesProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) return TRUE;
    if (message == WM_TIMER && wParam == entryEditTimer) {
        KillTimer(dialog, entryEditTimer);
        openEntryEditor(dialog);
        return TRUE;
    }
    if (message == WM_COMMAND && LOWORD(wParam) == 1027) {
        if (!later(dialog, entryEditTimer)) openEntryEditor(dialog);
        return TRUE;
    }
    if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
        return TRUE;
    }
    return FALSE;
}

INT_PTR CALLBACK noticeProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) return TRUE;
    if (message == WM_COMMAND && (LOWORD(wParam) == IDCANCEL || LOWORD(wParam) == IDOK)) {
        note("notice closed");
        EndDialog(dialog, IDCANCEL);
        return TRUE;
    }
    return FALSE;
}

void openEntries(HWND page) {
    note("entries, item " + std::to_string(SendDlgItemMessageA(page, 1012, LB_GETCURSEL, 0, 0)));
    DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(210), page, entriesProc, 0);
}

void chooseImage(HWND page) {
    const long mode = static_cast<long>(SendDlgItemMessageA(page, 1016, LB_GETCURSEL, 0, 0));
    const std::string image = chooseFile(page, "Firmware image");
    note("image " + image + ", item " + std::to_string(mode));
    if (!image.empty()) SetTimer(page, noticeTimer, 500, nullptr);
}

INT_PTR CALLBACK pageProc(HWND page, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        SendDlgItemMessageA(page, 1016, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>("Boot loader"));
        SendDlgItemMessageA(page, 1016, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>("Firmware image"));
        return TRUE;
    case WM_TIMER:
        KillTimer(page, wParam);
        if (wParam == noticeTimer) DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(230), page, noticeProc, 0);
        if (wParam == entriesTimer) openEntries(page);
        if (wParam == scriptTimer) note("script " + chooseFile(page, "Script"));
        if (wParam == imageTimer) chooseImage(page);
        return TRUE;
    case WM_COMMAND:
        if (HIWORD(wParam) != BN_CLICKED) return FALSE;
        switch (LOWORD(wParam)) {
        case 1003: {
            const std::string address = itemText(page, 1002);
            SendDlgItemMessageA(page, 1012, LB_RESETCONTENT, 0, 0);
            if (routerAnswers(address)) {
                const std::string first = "Configuration of " + address;
                SendDlgItemMessageA(page, 1012, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(first.c_str()));
                SendDlgItemMessageA(page, 1012, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>("BOOTCFG"));
                SetDlgItemTextA(page, 1001, "Logged in");
                note("login " + address + " ok");
            } else {
                note("login " + address + " failed");
            }
            return TRUE;
        }
        case 1013:
            if (!later(page, entriesTimer)) openEntries(page);
            return TRUE;
        case 1022:
            if (!later(page, scriptTimer)) note("script " + chooseFile(page, "Script"));
            return TRUE;
        case 1023: note("run script"); return TRUE;
        case 1008: note("prepare"); return TRUE;
        case 1017:
            if (!later(page, imageTimer)) chooseImage(page);
            return TRUE;
        case 1018: note("done"); return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    const std::string switches = commandLine ? commandLine : "";
    const std::size_t late = switches.find("--late ");
    if (late != std::string::npos) lateMs = std::atoi(switches.c_str() + late + 7);
    entryEditorOpens = switches.find("--no-entry-editor") == std::string::npos;
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_TAB_CLASSES};
    InitCommonControlsEx(&controls);
    note("started" + (switches.empty() ? std::string() : " " + switches));
    PROPSHEETPAGEA page{};
    page.dwSize = sizeof page;
    page.hInstance = instance;
    page.pszTemplate = MAKEINTRESOURCEA(200);
    page.pfnDlgProc = pageProc;
    PROPSHEETHEADERA sheet{};
    sheet.dwSize = sizeof sheet;
    sheet.dwFlags = PSH_PROPSHEETPAGE | PSH_HASHELP;
    sheet.hInstance = instance;
    sheet.pszCaption = "TI App (flashsim)";
    sheet.nPages = 1;
    sheet.ppsp = &page;
    const INT_PTR result = PropertySheetA(&sheet);
    note(result > 0 ? "closed" : "quit");
    return 0;
}
