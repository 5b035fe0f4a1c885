// vornix.exe as the operator meets it: started in a station directory, its
// dialog found from outside by the control ids of its children.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <vector>

#include "support/BuildPath.h"
#include "support/TempDir.h"
#include "support/WindowSearch.h"
#include "vornix/Version.h"

namespace vornix {
namespace {

const std::vector<unsigned> mainIds = {1000, 1001, 1002, 1003, 1004, 1006};

class Station {
public:
    explicit Station(const std::string& setupIni = "[Environment]\r\nTELNETWAITTIME(ms)=250\r\n") {
        dir_.write("setup.ini", setupIni);
        std::string command = "\"" + test::buildPath(VORNIX_EXE_PATH) + "\"";
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        const std::string directory = dir_.file("");
        started_ = CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, directory.c_str(),
                                  &startup, &process_);
        if (!started_) return;
        dialog_ = test::findWindowWithIds(process_.dwProcessId, mainIds, 20000);
        // Its controls are there before the program has set the dialog up:
        // the operator meets it once it is shown, on top. One that never gets
        // there is kept for the checks to say what is missing.
        if (dialog_)
            test::waitUntil(
                [&] { return IsWindowVisible(dialog_) && (GetWindowLongA(dialog_, GWL_EXSTYLE) & WS_EX_TOPMOST); },
                20000);
    }
    ~Station() {
        if (!started_) return;
        if (WaitForSingleObject(process_.hProcess, 0) != WAIT_OBJECT_0) {
            if (dialog_) PostMessageA(dialog_, WM_COMMAND, IDCANCEL, 0);
            if (WaitForSingleObject(process_.hProcess, 5000) != WAIT_OBJECT_0) TerminateProcess(process_.hProcess, 99);
        }
        CloseHandle(process_.hThread);
        CloseHandle(process_.hProcess);
    }
    HWND dialog() const { return dialog_; }
    HWND item(int id) const { return GetDlgItem(dialog_, id); }
    DWORD processId() const { return process_.dwProcessId; }
    // The exit code once the program has ended within timeoutMs, else -1.
    long exitCode(DWORD timeoutMs) {
        if (WaitForSingleObject(process_.hProcess, timeoutMs) != WAIT_OBJECT_0) return -1;
        DWORD code = 0;
        GetExitCodeProcess(process_.hProcess, &code);
        return static_cast<long>(code);
    }

private:
    test::TempDir dir_;
    PROCESS_INFORMATION process_{};
    bool started_ = false;
    HWND dialog_ = nullptr;
};

TEST(VornixExe, ShowsTheDialogOfTheTemplate) {
    Station station;
    HWND dialog = station.dialog();
    ASSERT_NE(dialog, nullptr) << "no window with controls 1000-1004 and 1006 appeared";

    EXPECT_EQ(test::windowText(dialog), "Vornix");
    const LONG style = GetWindowLongA(dialog, GWL_STYLE);
    const LONG exStyle = GetWindowLongA(dialog, GWL_EXSTYLE);
    EXPECT_TRUE(style & WS_CAPTION);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_TRUE(style & WS_POPUP);
    EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX));
    EXPECT_TRUE(exStyle & WS_EX_APPWINDOW);
    EXPECT_TRUE(exStyle & WS_EX_TOPMOST);
    EXPECT_TRUE(exStyle & WS_EX_DLGMODALFRAME);
    EXPECT_TRUE(IsWindowVisible(dialog));

    RECT window;
    GetWindowRect(dialog, &window);
    EXPECT_EQ(window.left, 0);
    EXPECT_EQ(window.top, 0);

    // Children in template order, which is the tab order; the banner's id is -1.
    EXPECT_EQ(test::childIds(dialog), (std::vector<unsigned>{1000, 1001, 1002, 1003, 1004, 0xFFFF, 1006}));

    const struct {
        int id;
        const char* cls;
        const char* text;
        bool enabled, visible;
        LONG styleBits;
    } controls[] = {
        {1000, "ListBox", "", true, true, LBS_SORT | LBS_NOINTEGRALHEIGHT | LBS_DISABLENOSCROLL | WS_VSCROLL | WS_HSCROLL | WS_TABSTOP},
        {1001, "Button", "Start", true, true, BS_PUSHBUTTON | WS_TABSTOP},
        {1002, "Button", "MAC Writing", true, true, BS_AUTOCHECKBOX | WS_TABSTOP},
        {1003, "Button", "BOOT Code Update", false, true, BS_AUTOCHECKBOX | WS_TABSTOP},
        {1004, "Button", "Firmware Update", false, true, BS_AUTOCHECKBOX | WS_TABSTOP},
        // Its vertical scroll bar style is dropped at run time while there is nothing to scroll.
        {1006, "ListBox", "", true, false, LBS_SORT | LBS_NOINTEGRALHEIGHT | WS_TABSTOP},
    };
    for (const auto& c : controls) {
        HWND control = station.item(c.id);
        ASSERT_NE(control, nullptr) << c.id;
        EXPECT_EQ(test::className(control), c.cls) << c.id;
        EXPECT_EQ(test::windowText(control), c.text) << c.id;
        EXPECT_EQ(IsWindowEnabled(control) != 0, c.enabled) << c.id;
        EXPECT_EQ(IsWindowVisible(control) != 0, c.visible) << c.id;
        const LONG bits = GetWindowLongA(control, GWL_STYLE);
        EXPECT_EQ(bits & c.styleBits, c.styleBits) << c.id;
        if (std::string(c.cls) == "ListBox") {
            // The list draws its border itself: the system may turn WS_BORDER into an edge.
            EXPECT_TRUE((bits & WS_BORDER) || (GetWindowLongA(control, GWL_EXSTYLE) & WS_EX_CLIENTEDGE)) << c.id;
            EXPECT_FALSE(bits & LBS_NOTIFY) << c.id;
        }
        if (std::string(c.cls) == "Button" && c.id != 1001) {
            EXPECT_EQ(SendMessageA(control, BM_GETCHECK, 0, 0), BST_UNCHECKED) << c.id;
            EXPECT_EQ(bits & 0xF, BS_AUTOCHECKBOX) << c.id;
        }
    }
    EXPECT_EQ(GetWindowLongA(station.item(1001), GWL_STYLE) & 0xF, BS_PUSHBUTTON) << "Start is not the default button";
    EXPECT_EQ(SendMessageA(station.item(1000), LB_GETCOUNT, 0, 0), 0);

    // The banner shows the 510 by 70 bitmap at its own size.
    HWND banner = nullptr;
    for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        if ((static_cast<unsigned>(GetDlgCtrlID(c)) & 0xFFFF) == 0xFFFF) banner = c;
    ASSERT_NE(banner, nullptr);
    EXPECT_EQ(GetWindowLongA(banner, GWL_STYLE) & SS_TYPEMASK, SS_BITMAP);
    RECT bannerRect;
    GetWindowRect(banner, &bannerRect);
    EXPECT_EQ(bannerRect.right - bannerRect.left, 510);
    EXPECT_EQ(bannerRect.bottom - bannerRect.top, 70);

    // The outer size is the former client size: 354 by 337 dialog units,
    // measured with the unit the log list shows (254 units wide).
    RECT list;
    GetWindowRect(station.item(1000), &list);
    const double unit = (list.right - list.left) / 254.0;
    EXPECT_NEAR(window.right - window.left, 354 * unit, 3.0);
    RECT client;
    GetClientRect(dialog, &client);
    EXPECT_LT(client.bottom, window.bottom - window.top) << "the client area shrank by the caption and frame";
}

// The About box of one station: tests running side by side have their own.
HWND aboutBox(DWORD processId, bool visible) {
    for (HWND w = GetWindow(GetDesktopWindow(), GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        if (owner == processId && (!visible || IsWindowVisible(w)) && test::windowText(w) == "About Vornix") return w;
    }
    return nullptr;
}

HWND waitForAbout(DWORD processId) {
    HWND about = nullptr;
    test::waitUntil([&] { return (about = aboutBox(processId, true)) != nullptr; }, 20000);
    return about;
}

TEST(VornixExe, SystemCommands16To31OpenTheAboutBox) {
    Station station;
    ASSERT_NE(station.dialog(), nullptr);
    for (WPARAM command : {16, 17, 31}) {
        PostMessageA(station.dialog(), WM_SYSCOMMAND, command, 0);
        HWND about = waitForAbout(station.processId());
        ASSERT_NE(about, nullptr) << "system command " << command;
        HWND ok = GetDlgItem(about, IDOK);
        EXPECT_EQ(test::windowText(ok), "OK");
        EXPECT_TRUE(GetWindowLongA(ok, GWL_STYLE) & BS_DEFPUSHBUTTON);
        PostMessageA(about, WM_COMMAND, IDOK, 0);
        test::waitUntil([&] { return !IsWindow(about); }, 20000);
        EXPECT_FALSE(IsWindow(about));
    }
    // 32 is another command: no About box. Once a tick posted after it has
    // arrived, the command has been handled; a box it opened would exist by
    // then, though not yet shown.
    PostMessageA(station.dialog(), WM_SYSCOMMAND, 32, 0);
    PostMessageA(station.item(1002), BM_SETCHECK, BST_CHECKED, 0);
    ASSERT_TRUE(test::waitUntil(
        [&] { return SendMessageA(station.item(1002), BM_GETCHECK, 0, 0) == BST_CHECKED; }, 20000));
    EXPECT_EQ(aboutBox(station.processId(), false), nullptr);
}

TEST(VornixExe, TheAboutBoxNamesTheVersion) {
    Station station;
    ASSERT_NE(station.dialog(), nullptr);
    PostMessageA(station.dialog(), WM_SYSCOMMAND, 16, 0);
    HWND about = waitForAbout(station.processId());
    ASSERT_NE(about, nullptr);
    std::vector<std::string> texts;
    for (HWND c = GetWindow(about, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) texts.push_back(test::windowText(c));
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Vornix Version " VORNIX_VERSION), texts.end());
    PostMessageA(about, WM_COMMAND, IDOK, 0);
}

TEST(VornixExe, EnterEscapeAndTheCloseBoxEndTheProgram) {
    const struct {
        const char* how;
        UINT message;
        WPARAM wParam;
        bool toList;
    } ways[] = {
        {"Escape", WM_KEYDOWN, VK_ESCAPE, true},
        {"Enter", WM_KEYDOWN, VK_RETURN, true},
        {"close box", WM_SYSCOMMAND, SC_CLOSE, false},
    };
    for (const auto& way : ways) {
        Station station;
        ASSERT_NE(station.dialog(), nullptr) << way.how;
        PostMessageA(way.toList ? station.item(1000) : station.dialog(), way.message, way.wParam, 0);
        EXPECT_EQ(station.exitCode(10000), 0) << way.how;
    }
}

TEST(VornixExe, ATooLongStationDirectoryIsRefusedNotCut) {
    // A directory of 252 characters: it is a valid current directory, but
    // with "\\setup.ini" the path would exceed 259 characters.
    test::TempDir dir;
    std::string deep = dir.file("");
    deep.pop_back();
    while (deep.size() < 252) {
        deep += '\\' + std::string(std::min<std::size_t>(40, 252 - deep.size() - 1), 'd');
        ASSERT_TRUE(CreateDirectoryA(deep.c_str(), nullptr)) << deep;
    }
    ASSERT_EQ(deep.size(), 252u);
    std::string command = "\"" + test::buildPath(VORNIX_EXE_PATH) + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, deep.c_str(), &startup,
                               &process));
    // The refusal is a message box; its OK ends the program.
    HWND box = test::findWindowWithIds(process.dwProcessId, {65535}, 20000, true);
    ASSERT_NE(box, nullptr) << "no message box";
    EXPECT_NE(test::windowText(GetDlgItem(box, 65535)).find("too long"), std::string::npos);
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(WaitForSingleObject(process.hProcess, 10000), WAIT_OBJECT_0);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

}  // namespace
}  // namespace vornix
