#include "app/MainDialog.h"

#include <vector>

#include "app/SerialPrompt.h"
#include "app/resource.h"

namespace vornix {

namespace {

// A worker's call, carried out by the dialog procedure. lParam points to the
// caller's std::function, which lives until SendMessage returns.
constexpr UINT WM_CONSOLE_CALL = WM_APP + 1;

std::string loadString(HINSTANCE instance, UINT id) {
    char text[256];
    const int length = LoadStringA(instance, id, text, sizeof text);
    return std::string(text, length > 0 ? static_cast<std::size_t>(length) : 0);
}

}  // namespace

MainDialog::MainDialog(HINSTANCE instance)
    : instance_(instance), appIcon_(LoadIconA(instance, MAKEINTRESOURCEA(IDR_MAINFRAME))) {}

MainDialog::~MainDialog() { station_.reset(); }

INT_PTR MainDialog::run() {
    return DialogBoxParamA(instance_, MAKEINTRESOURCEA(IDD_VORNIX_DIALOG), nullptr, &MainDialog::dialogProc,
                           reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK MainDialog::dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<MainDialog*>(lParam);
        SetWindowLongPtrA(window, DWLP_USER, lParam);
        self->window_.store(window);
        return self->initialise() ? TRUE : FALSE;
    }
    auto* self = reinterpret_cast<MainDialog*>(GetWindowLongPtrA(window, DWLP_USER));
    if (!self) return FALSE;
    if (message == WM_NCDESTROY) {
        self->window_.store(nullptr);
        return FALSE;
    }
    return self->handle(message, wParam, lParam);
}

bool MainDialog::initialise() {
    HWND window = window_.load();
    firmwareUpdateBox_ = GetDlgItem(window, IDC_FIRMWARE_UPDATE);
    startButton_ = GetDlgItem(window, IDC_START);
    bootUpdateBox_ = GetDlgItem(window, IDC_BOOT_UPDATE);
    macWritingBox_ = GetDlgItem(window, IDC_MAC_WRITING);
    scratchList_ = GetDlgItem(window, IDC_SCRATCH_LIST);
    logList_ = GetDlgItem(window, IDC_LOG_LIST);

    if (HMENU systemMenu = GetSystemMenu(window, FALSE)) {
        const std::string about = loadString(instance_, IDS_ABOUTBOX);
        if (!about.empty()) {
            AppendMenuA(systemMenu, MF_SEPARATOR, 0, nullptr);
            AppendMenuA(systemMenu, MF_STRING, IDM_ABOUTBOX, about.c_str());
        }
    }
    SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(appIcon_));
    SendMessageA(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(appIcon_));

    StartRefusal refusal{};
    std::string directory;
    station_ = Station::open(*this, refusal, directory);
    if (!station_) {
        // A cut path would name another file: refuse instead of guessing.
        MessageBoxA(window,
                    refusal == StartRefusal::PathTooLong
                        ? "Vornix cannot use setup.ini here: the path of the current directory is too long "
                          "(setup.ini's full path must fit in 259 characters).\n\n"
                          "Start Vornix from a shorter directory."
                        : "Vornix cannot read the current directory, where it looks for setup.ini.\n\n"
                          "Start Vornix from a directory it can read.",
                    "Vornix", MB_OK | MB_ICONSTOP);
        EndDialog(window, IDCANCEL);
        return false;
    }

    RECT client;
    GetClientRect(window, &client);
    SetWindowPos(window, HWND_TOPMOST, 0, 0, client.right - client.left, client.bottom - client.top,
                 SWP_SHOWWINDOW);
    return true;  // the system gives the focus to the first tab stop, LogList
}

INT_PTR MainDialog::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CONSOLE_CALL:
        (*reinterpret_cast<const std::function<void()>*>(lParam))();
        return TRUE;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == IDM_ABOUTBOX) {
            DialogBoxParamA(instance_, MAKEINTRESOURCEA(IDD_ABOUTBOX), window_.load(),
                            [](HWND about, UINT msg, WPARAM w, LPARAM) -> INT_PTR {
                                if (msg == WM_INITDIALOG) return TRUE;
                                if (msg == WM_COMMAND && (LOWORD(w) == IDOK || LOWORD(w) == IDCANCEL)) {
                                    EndDialog(about, LOWORD(w));
                                    return TRUE;
                                }
                                return FALSE;
                            },
                            0);
            return TRUE;
        }
        return FALSE;
    case WM_PAINT:
        if (IsIconic(window_.load())) {
            paintMinimised();
            return TRUE;
        }
        return FALSE;
    case WM_QUERYDRAGICON:
        return reinterpret_cast<INT_PTR>(appIcon_);
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_START && HIWORD(wParam) == BN_CLICKED) {
            startPressed();
            return TRUE;
        }
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(window_.load(), LOWORD(wParam));
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

void MainDialog::paintMinimised() {
    HWND window = window_.load();
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    SendMessageA(window, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client;
    GetClientRect(window, &client);
    const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(dc, x, y, appIcon_);
    EndPaint(window, &paint);
}

void MainDialog::startPressed() {
    if (!station_) return;
    if (!station_->labelProblem().empty()) {
        appendLog(station_->labelProblem());
        return;
    }
    // With scanned serials, each run is for the unit scanned first.
    std::string problem;
    if (station_->serialSource(problem) == SerialSource::Scan) {
        const std::optional<std::string> scanned = askSerial(instance_, window_.load());
        if (!scanned) return;  // cancelled: no run
        const std::string refused = station_->useSerial(*scanned);
        if (!refused.empty()) {
            appendLog(refused);
            return;
        }
    }
    // A press while a run is still going on starts nothing beside it.
    station_->startPressed();
}

void MainDialog::onDialogThread(const std::function<void()>& work) {
    HWND window = window_.load();
    if (!window) return;  // the dialog has ended: the program is ending with it
    SendMessageA(window, WM_CONSOLE_CALL, 0, reinterpret_cast<LPARAM>(&work));
}

void MainDialog::appendLog(const std::string& line) {
    onDialogThread([&] {
        SendMessageA(logList_, LB_INSERTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(line.c_str()));
        const LRESULT count = SendMessageA(logList_, LB_GETCOUNT, 0, 0);
        SendMessageA(logList_, LB_SETCURSEL, static_cast<WPARAM>(count - 1), 0);
    });
}

void MainDialog::clearLog() {
    onDialogThread([&] { SendMessageA(logList_, LB_RESETCONTENT, 0, 0); });
}

void MainDialog::enableStart(bool enabled) {
    onDialogThread([&] { EnableWindow(startButton_, enabled ? TRUE : FALSE); });
}

bool MainDialog::stageChosen(Stage stage) {
    bool checked = false;
    onDialogThread([&] {
        HWND box = stage == Stage::MacWriting ? macWritingBox_
                   : stage == Stage::BootUpdate ? bootUpdateBox_
                                                : firmwareUpdateBox_;
        checked = SendMessageA(box, BM_GETCHECK, 0, 0) == BST_CHECKED;
    });
    return checked;
}

void MainDialog::clearScratch() {
    onDialogThread([&] { SendMessageA(scratchList_, LB_RESETCONTENT, 0, 0); });
}

void MainDialog::appendScratch(const std::string& item) {
    onDialogThread([&] {
        const LRESULT count = SendMessageA(scratchList_, LB_GETCOUNT, 0, 0);
        SendMessageA(scratchList_, LB_INSERTSTRING, static_cast<WPARAM>(count),
                     reinterpret_cast<LPARAM>(item.c_str()));
    });
}

int MainDialog::scratchCount() {
    int count = 0;
    onDialogThread([&] {
        const LRESULT n = SendMessageA(scratchList_, LB_GETCOUNT, 0, 0);
        count = n == LB_ERR ? 0 : static_cast<int>(n);
    });
    return count;
}

std::string MainDialog::scratchItem(int index) {
    std::string text;
    onDialogThread([&] {
        const LRESULT length = SendMessageA(scratchList_, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
        if (length == LB_ERR || length < 0) return;
        std::vector<char> buffer(static_cast<std::size_t>(length) + 1, '\0');
        const LRESULT got = SendMessageA(scratchList_, LB_GETTEXT, static_cast<WPARAM>(index),
                                         reinterpret_cast<LPARAM>(buffer.data()));
        if (got != LB_ERR && got >= 0 && got <= length) text.assign(buffer.data(), static_cast<std::size_t>(got));
    });
    return text;
}

}  // namespace vornix
