#include "app/GangWindow.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>
#include <utility>

#include "app/resource.h"

namespace vornix {

namespace {

// The gang's events, posted by its reader threads: the dialog's thread
// never waits for them, nor they for it.
constexpr UINT WM_GANG_PORT = WM_APP + 10;  // wParam: the port whose tile changed
constexpr UINT WM_GANG_DONE = WM_APP + 11;  // every port's run is over
constexpr UINT WM_GANG_LOG = WM_APP + 12;   // wParam: the port whose log to show
constexpr UINT WM_GANG_SCAN = WM_APP + 13;  // the scan field's serial is complete
constexpr UINT WM_GANG_CLEAR = WM_APP + 14; // wParam: the port whose serial to clear
constexpr UINT_PTR clockTimer = 1, logTimer = 2;
constexpr const char* tileClass = "VornixGangTile";

std::string textOf(HWND control) {
    const int length = GetWindowTextLengthA(control);
    std::string text(static_cast<std::size_t>(length > 0 ? length : 0) + 1, '\0');
    const int got = GetWindowTextA(control, &text[0], length + 1);
    text.resize(static_cast<std::size_t>(got > 0 ? got : 0));
    return text;
}

// Only a changed text is set: a tile redrawn every second would flicker.
void setText(HWND control, const std::string& text) {
    if (textOf(control) != text) SetWindowTextA(control, text.c_str());
}

// A logged line on one tile line: its line breaks (a logged command's
// "\r\n") as blanks, none at the ends.
std::string oneLine(std::string text) {
    for (char& c : text)
        if (c == '\r' || c == '\n' || c == '\t') c = ' ';
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

struct LogView {
    const GangBoard* board;
    int port;
    std::string caption;
    std::size_t shown = 0;
};

void appendLines(HWND dialog, LogView& view) {
    HWND list = GetDlgItem(dialog, IDC_LOG_LIST);
    const std::vector<std::string> lines = view.board->log(view.port, view.shown);
    if (lines.empty()) return;
    for (const std::string& line : lines)
        SendMessageA(list, LB_INSERTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(line.c_str()));
    view.shown += lines.size();
    const LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
    SendMessageA(list, LB_SETCURSEL, static_cast<WPARAM>(count - 1), 0);
}

INT_PTR CALLBACK logProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: {
        auto* view = reinterpret_cast<LogView*>(lParam);
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        SetWindowTextA(dialog, view->caption.c_str());
        appendLines(dialog, *view);
        // A running port's log grows while it is shown.
        SetTimer(dialog, logTimer, 500, nullptr);
        return TRUE;
    }
    case WM_TIMER:
        if (auto* view = reinterpret_cast<LogView*>(GetWindowLongPtrA(dialog, DWLP_USER))) appendLines(dialog, *view);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            KillTimer(dialog, logTimer);
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

// The recovery's console: its lines go to the window's list of what it told.
class ToldConsole : public OperatorConsole {
public:
    explicit ToldConsole(std::function<void(const std::string&)> tell) : tell_(std::move(tell)) {}
    void appendLog(const std::string& line) override { tell_(line); }
    void clearLog() override {}
    void enableStart(bool) override {}
    bool stageChosen(Stage) override { return false; }
    void clearScratch() override {}
    void appendScratch(const std::string&) override {}
    int scratchCount() override { return 0; }
    std::string scratchItem(int) override { return std::string(); }

private:
    std::function<void(const std::string&)> tell_;
};

}  // namespace

GangWindow::GangWindow(HINSTANCE instance, std::vector<Gang::Port> ports)
    : instance_(instance), ports_(std::move(ports)), board_(ports_) {
    HIGHCONTRASTA contrast{};
    contrast.cbSize = sizeof contrast;
    highContrast_ = SystemParametersInfoA(SPI_GETHIGHCONTRAST, sizeof contrast, &contrast, 0) &&
                    (contrast.dwFlags & HCF_HIGHCONTRASTON);
    for (int state = 0; state < 7; ++state)
        brushes_[state] = CreateSolidBrush(background(static_cast<GangBoard::State>(state)));
}

GangWindow::~GangWindow() {
    // Only reached when the program does not end with the window: no
    // port's run outlives it.
    stop_.now();
    if (runner_.joinable()) runner_.join();
    for (HFONT font : {titleFont_, stateFont_, bodyFont_, lineFont_})
        if (font) DeleteObject(font);
    for (HBRUSH brush : brushes_)
        if (brush) DeleteObject(brush);
}

INT_PTR GangWindow::run() {
    WNDCLASSEXA tile{};
    tile.cbSize = sizeof tile;
    tile.style = CS_DBLCLKS;
    tile.lpfnWndProc = &GangWindow::tileProc;
    tile.hInstance = instance_;
    tile.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
    tile.lpszClassName = tileClass;
    RegisterClassExA(&tile);
    return DialogBoxParamA(instance_, MAKEINTRESOURCEA(IDD_GANG_WINDOW), nullptr, &GangWindow::dialogProc,
                           reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK GangWindow::dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<GangWindow*>(lParam);
        SetWindowLongPtrA(window, DWLP_USER, lParam);
        self->window_.store(window);
        self->initialise();
        return FALSE;  // the focus is set
    }
    auto* self = reinterpret_cast<GangWindow*>(GetWindowLongPtrA(window, DWLP_USER));
    if (!self) return FALSE;
    if (message == WM_NCDESTROY) {
        self->window_.store(nullptr);
        return FALSE;
    }
    return self->handle(message, wParam, lParam);
}

COLORREF GangWindow::background(GangBoard::State state) const {
    if (highContrast_) return GetSysColor(COLOR_WINDOW);
    switch (state) {
        case GangBoard::State::Idle: return RGB(235, 235, 235);
        case GangBoard::State::NotRun: return RGB(70, 70, 70);
        case GangBoard::State::Running: return RGB(255, 214, 0);
        case GangBoard::State::Passed: return RGB(0, 110, 40);
        case GangBoard::State::Failed: return RGB(185, 0, 0);
        case GangBoard::State::NoRouter: return RGB(70, 70, 70);
        case GangBoard::State::Interrupted: return RGB(185, 0, 0);
    }
    return RGB(235, 235, 235);
}

COLORREF GangWindow::text(GangBoard::State state) const {
    if (highContrast_) return GetSysColor(COLOR_WINDOWTEXT);
    return state == GangBoard::State::Idle || state == GangBoard::State::Running ? RGB(0, 0, 0) : RGB(255, 255, 255);
}

HBRUSH GangWindow::brush(GangBoard::State state) const {
    if (highContrast_) return GetSysColorBrush(COLOR_WINDOW);
    return brushes_[static_cast<int>(state)];
}

LRESULT CALLBACK GangWindow::tileProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        return DefWindowProcA(window, message, wParam, lParam);
    }
    auto* tile = reinterpret_cast<Tile*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (!tile) return DefWindowProcA(window, message, wParam, lParam);
    const GangWindow& owner = *tile->owner;
    switch (message) {
    case WM_ERASEBKGND: {
        HDC dc = reinterpret_cast<HDC>(wParam);
        RECT client;
        GetClientRect(window, &client);
        FillRect(dc, &client, owner.brush(tile->shown));
        // A dark frame sets each tile off from its neighbours, whatever their
        // colours; a failed tile's is thicker, a sign besides its colour.
        const bool alarm = tile->shown == GangBoard::State::Failed || tile->shown == GangBoard::State::Interrupted;
        HBRUSH frame = CreateSolidBrush(owner.highContrast_ ? GetSysColor(COLOR_WINDOWTEXT) : RGB(0, 0, 0));
        const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
        const int width = MulDiv(alarm ? 6 : 2, dpi, 96);
        for (int i = 0; i < width; ++i) {
            RECT ring{client.left + i, client.top + i, client.right - i, client.bottom - i};
            FrameRect(dc, &ring, frame);
        }
        DeleteObject(frame);
        return TRUE;
    }
    case WM_CTLCOLORSTATIC: {
        HDC dc = reinterpret_cast<HDC>(wParam);
        SetTextColor(dc, owner.text(tile->shown));
        SetBkColor(dc, owner.background(tile->shown));
        return reinterpret_cast<LRESULT>(owner.brush(tile->shown));
    }
    case WM_COMMAND:
        if (HIWORD(wParam) == STN_DBLCLK) PostMessageA(GetParent(window), WM_GANG_LOG, static_cast<WPARAM>(tile->port), 0);
        else if (HIWORD(wParam) == STN_CLICKED && LOWORD(wParam) == IDC_TILE_SERIAL)
            PostMessageA(GetParent(window), WM_GANG_CLEAR, static_cast<WPARAM>(tile->port), 0);
        return 0;
    case WM_LBUTTONDBLCLK:
        PostMessageA(GetParent(window), WM_GANG_LOG, static_cast<WPARAM>(tile->port), 0);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

// The scan field: a scanner ends a serial with Enter (or Tab), which here
// completes the scan instead of pressing Start or moving the focus.
LRESULT CALLBACK GangWindow::scanProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<GangWindow*>(GetWindowLongPtrA(edit, GWLP_USERDATA));
    const bool ends = wParam == VK_RETURN || wParam == VK_TAB;
    if (message == WM_GETDLGCODE && lParam && ends) return DLGC_WANTALLKEYS;
    if (message == WM_KEYDOWN && ends) {
        PostMessageA(GetParent(edit), WM_GANG_SCAN, 0, 0);
        return 0;
    }
    if (message == WM_CHAR && (wParam == '\r' || wParam == '\t' || wParam == '\n')) return 0;
    return CallWindowProcA(self->editProc_, edit, message, wParam, lParam);
}

void GangWindow::makeFonts(int dpi) {
    auto font = [dpi](int points, bool bold) {
        return CreateFontA(-MulDiv(points, dpi, 72), 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                           DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                           DEFAULT_PITCH | FF_SWISS, "Tahoma");
    };
    titleFont_ = font(13, true);
    stateFont_ = font(20, true);
    bodyFont_ = font(12, false);
    lineFont_ = font(11, false);
}

void GangWindow::initialise() {
    HWND window = window_.load();
    HDC screen = GetDC(window);
    const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen) ReleaseDC(window, screen);
    makeFonts(dpi > 0 ? dpi : 96);
    HICON icon = LoadIconA(instance_, MAKEINTRESOURCEA(IDR_MAINFRAME));
    SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    SendMessageA(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));

    scanning_ = Gang::scansSerials();
    if (scanning_) {
        HWND label = CreateWindowExA(0, "Static", "Serial:", WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP, 0, 0, 10, 10,
                                     window, nullptr, instance_, nullptr);
        scan_ = CreateWindowExA(WS_EX_CLIENTEDGE, "Edit", "", WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, 0, 0,
                                10, 10, window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_GANG_SCAN)), instance_,
                                nullptr);
        const WPARAM font = static_cast<WPARAM>(SendMessageA(window, WM_GETFONT, 0, 0));
        SendMessageA(label, WM_SETFONT, font, FALSE);
        SendMessageA(scan_, WM_SETFONT, font, FALSE);
        SendMessageA(scan_, EM_SETLIMITTEXT, 256, 0);
        SetWindowLongPtrA(scan_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        editProc_ = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(scan_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&GangWindow::scanProc)));
        RECT at{7, 30, 37, 42};
        MapDialogRect(window, &at);
        MoveWindow(label, at.left, at.top + 2, at.right - at.left, at.bottom - at.top, FALSE);
        at = RECT{40, 28, 160, 42};
        MapDialogRect(window, &at);
        MoveWindow(scan_, at.left, at.top, at.right - at.left, at.bottom - at.top, FALSE);
    }
    makeTiles();
    dpi_ = dpi > 0 ? dpi : 96;
    layout(dpi_);
    showAll();
    SetTimer(window, clockTimer, 1000, nullptr);
    // Enter still presses Start, the default button; a scanner types into the scan field.
    SetFocus(scanning_ ? scan_ : GetDlgItem(window, IDC_MAC_WRITING));
    // Runs killed before this start get their records now, as a station's
    // start makes them; off the window's thread (in line mode it may wait
    // for the database), with Start held until it is done.
    running_ = true;
    EnableWindow(GetDlgItem(window, IDC_START), FALSE);
    runner_ = std::thread([this] {
        ToldConsole recovery([this](const std::string& line) { told(line); });
        Gang::recover(recovery, [this](const std::string& line) { told(line); });
        post(WM_GANG_DONE, 0);
    });
}

void GangWindow::makeTiles() {
    HWND window = window_.load();
    for (const Tile& tile : tiles_)
        if (tile.window) DestroyWindow(tile.window);
    tiles_.clear();
    tiles_.resize(ports_.size());  // never again until the next: each tile's window points to its entry
    for (std::size_t i = 0; i < ports_.size(); ++i) {
        Tile& tile = tiles_[i];
        tile.owner = this;
        tile.port = ports_[i].port.number;
        tile.window = CreateWindowExA(0, tileClass, "", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 10, 10, window,
                                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_GANG_TILE + tile.port)),
                                      instance_, &tile);
        auto label = [&](int id, DWORD style, HFONT font) {
            // SS_NOPREFIX: a router's line may hold an ampersand.
            HWND control = CreateWindowExA(0, "Static", "", WS_CHILD | WS_VISIBLE | SS_NOTIFY | SS_NOPREFIX | style, 0,
                                           0, 10, 10, tile.window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                           instance_, nullptr);
            SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
            return control;
        };
        tile.title = label(IDC_TILE_TITLE, SS_LEFTNOWORDWRAP, titleFont_);
        tile.state = label(IDC_TILE_STATE, SS_LEFTNOWORDWRAP, stateFont_);
        tile.stage = label(IDC_TILE_STAGE, SS_LEFTNOWORDWRAP, bodyFont_);
        tile.mac = label(IDC_TILE_MAC, SS_LEFTNOWORDWRAP, bodyFont_);
        tile.elapsed = label(IDC_TILE_ELAPSED, SS_LEFTNOWORDWRAP, bodyFont_);
        tile.line = label(IDC_TILE_LINE, SS_LEFT | SS_EDITCONTROL, lineFont_);
        // A click on the serial clears it.
        if (scanning_) tile.serial = label(IDC_TILE_SERIAL, SS_LEFTNOWORDWRAP, bodyFont_);
    }
}

void GangWindow::layout(int dpi) {
    HWND window = window_.load();
    auto px = [dpi](int n) { return MulDiv(n, dpi, 96); };
    // The controls of the template, in dialog units: they follow the
    // dialog's font, which follows the system's DPI.
    RECT top{0, 0, 507, scanning_ ? 46 : 28};
    MapDialogRect(window, &top);
    const int count = static_cast<int>(tiles_.size());
    const int width = px(290), height = px(204), gap = px(10), pad = px(10);
    RECT work{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    const DWORD style = static_cast<DWORD>(GetWindowLongPtrA(window, GWL_STYLE));
    const DWORD exStyle = static_cast<DWORD>(GetWindowLongPtrA(window, GWL_EXSTYLE));
    // Up to four tiles a row; fewer when a row would not fit the screen (a
    // large DPI on a small screen), as long as the rows still fit.
    int columns = count < 4 ? (count > 0 ? count : 1) : 4;
    RECT outer{};
    for (;;) {
        const int rows = (count + columns - 1) / columns;
        outer = RECT{0, 0, std::max<int>(top.right, columns * width + (columns + 1) * gap),
                     top.bottom + rows * (height + gap)};
        AdjustWindowRectEx(&outer, style, FALSE, exStyle);
        const bool wide = outer.right - outer.left > work.right - work.left;
        const int fewerRows = (count + columns - 2) / (columns > 1 ? columns - 1 : 1);
        const bool fewerFit = outer.bottom - outer.top + (fewerRows - rows) * (height + gap) <= work.bottom - work.top;
        if (!wide || columns == 1 || !fewerFit) break;
        --columns;
    }
    for (int i = 0; i < count; ++i) {
        const Tile& tile = tiles_[static_cast<std::size_t>(i)];
        const int x = gap + (i % columns) * (width + gap), y = top.bottom + (i / columns) * (height + gap);
        MoveWindow(tile.window, x, y, width, height, FALSE);
        int row = pad;
        const int inner = width - 2 * pad;
        auto place = [&](HWND control, int h) {
            MoveWindow(control, pad, row, inner, h, FALSE);
            row += h;
        };
        place(tile.title, px(24));
        if (tile.serial) place(tile.serial, px(24));
        place(tile.state, px(38));
        place(tile.stage, px(24));
        place(tile.mac, px(24));
        place(tile.elapsed, px(24));
        place(tile.line, height - row - pad);
    }
    const int outerWidth = outer.right - outer.left, outerHeight = outer.bottom - outer.top;
    const int x = std::max<int>(work.left, work.left + (work.right - work.left - outerWidth) / 2);
    const int y = std::max<int>(work.top, work.top + (work.bottom - work.top - outerHeight) / 2);
    SetWindowPos(window, nullptr, x, y, outerWidth, outerHeight, SWP_NOZORDER);
}

INT_PTR GangWindow::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    (void)lParam;
    switch (message) {
    case WM_GANG_PORT:
        for (const GangBoard::Tile& tile : board_.tiles())
            if (tile.number == static_cast<int>(wParam)) show(tile);
        showSummary();
        return TRUE;
    case WM_GANG_DONE:
        if (runner_.joinable()) runner_.join();
        running_ = false;
        // A unit that passed leaves the fixture; one that did not is tried
        // again under the serial it has.
        for (const GangBoard::Tile& tile : board_.tiles())
            if (tile.state == GangBoard::State::Passed) serials_.erase(tile.number);
        showAll();
        EnableWindow(GetDlgItem(window_.load(), IDC_START), TRUE);
        if (scan_) SetFocus(scan_);
        showTold();
        return TRUE;
    case WM_GANG_LOG:
        showLog(static_cast<int>(wParam));
        return TRUE;
    case WM_GANG_SCAN:
        takeScan();
        return TRUE;
    case WM_GANG_CLEAR:
        clearSerial(static_cast<int>(wParam));
        return TRUE;
    case WM_TIMER:
        if (wParam == clockTimer && running_) showAll();
        return TRUE;
    case WM_COMMAND:
        // Enter is Start: on the default button, or as OK when a run has
        // disabled it; it never ends the program here.
        if ((LOWORD(wParam) == IDC_START && HIWORD(wParam) == BN_CLICKED) || LOWORD(wParam) == IDOK) {
            startPressed();
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            leave();
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

void GangWindow::post(UINT message, WPARAM wParam) {
    if (HWND window = window_.load()) PostMessageA(window, message, wParam, 0);
}

void GangWindow::startPressed() {
    if (running_) return;
    HWND window = window_.load();
    // setup.ini as it is now, each port checked afresh, as vornix-cli --gang
    // does: a cable plugged in since, or a [GANG] section changed, counts.
    std::string why;
    std::optional<std::vector<Gang::Port>> now = Gang::ports(why);
    // With serials, a port runs only for a unit whose serial it was given.
    std::vector<std::pair<int, std::string>> given;
    if (now)
        for (const Gang::Port& port : *now)
            if (serials_.count(port.port.number)) given.emplace_back(port.port.number, serials_[port.port.number]);
    if (now && !Gang::giveSerials(*now, given, why)) now.reset();
    if (!now) {
        const std::string text = "Vornix cannot run the gang station of setup.ini: " + why + ".\n\nNothing was started.";
        MessageBoxA(window, text.c_str(), "Vornix", MB_OK | MB_ICONSTOP);
        return;
    }
    bool sameTiles = now->size() == ports_.size();
    for (std::size_t i = 0; sameTiles && i < now->size(); ++i)
        sameTiles = (*now)[i].port.number == ports_[i].port.number;
    ports_ = *now;
    board_.reset(ports_);
    if (!sameTiles) {
        makeTiles();
        layout(dpi_);
    }
    auto ticked = [window](int id) { return SendDlgItemMessageA(window, id, BM_GETCHECK, 0, 0) == BST_CHECKED; };
    // The firmware stage is not a gang's: its box stays as the dialog's, never enabled.
    const bool mac = ticked(IDC_MAC_WRITING), boot = ticked(IDC_BOOT_UPDATE);
    std::vector<std::string> stages;
    if (mac) stages.emplace_back("--mac");
    if (boot) stages.emplace_back("--boot");
    running_ = true;
    EnableWindow(GetDlgItem(window, IDC_START), FALSE);
    board_.start(mac, boot, GangBoard::Clock::now());
    showAll();
    if (runner_.joinable()) runner_.join();
    runner_ = std::thread([this, stages] {
        Gang::Events events;
        events.line = [this](int port, const std::string& line) {
            board_.line(port, line);
            post(WM_GANG_PORT, static_cast<WPARAM>(port));
        };
        events.ended = [this](int port, Gang::Result result) {
            board_.ended(port, result, GangBoard::Clock::now());
            post(WM_GANG_PORT, static_cast<WPARAM>(port));
        };
        ToldConsole recovery([this](const std::string& line) { told(line); });
        Gang::runAll(ports_, stages, events, recovery, &stop_, [this](const std::string& line) { told(line); });
        post(WM_GANG_DONE, 0);
    });
}

void GangWindow::leave() {
    HWND window = window_.load();
    const std::vector<int> busy = board_.busy();
    if (!busy.empty()) {
        const bool one = busy.size() == 1;
        const std::string question = GangBoard::busyText(busy) + " still running. Leaving now stops " +
                                     (one ? "its run" : "their runs") + " and may leave " +
                                     (one ? "its router" : "their routers") + " half-written.\n\nLeave anyway?";
        if (MessageBoxA(window, question.c_str(), "Vornix", MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) != IDYES) return;
        stop_.now();
    }
    KillTimer(window, clockTimer);
    EndDialog(window, IDCANCEL);
}

void GangWindow::show(const GangBoard::Tile& state) {
    for (Tile& tile : tiles_) {
        if (tile.port != state.number) continue;
        setText(tile.title, "Port " + std::to_string(state.number) + ": " + state.interfaceName);
        setText(tile.state, GangBoard::stateText(state));
        setText(tile.stage, state.stage.empty() ? std::string() : "Stage: " + state.stage);
        setText(tile.mac, "First MAC: " + (state.firstMac.empty() ? std::string("-") : state.firstMac));
        const std::string elapsed = GangBoard::elapsedText(state, GangBoard::Clock::now());
        setText(tile.elapsed, elapsed.empty() ? std::string() : "Time: " + elapsed);
        setText(tile.line, oneLine(state.lastLine));
        if (tile.serial) {
            const auto serial = serials_.find(state.number);
            setText(tile.serial, "Serial: " + (serial == serials_.end() ? std::string("-") : serial->second));
        }
        if (tile.shown != state.state) {
            tile.shown = state.state;
            RedrawWindow(tile.window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
        }
    }
}

void GangWindow::takeScan() {
    if (!scan_) return;
    const std::string typed = textOf(scan_);
    SetWindowTextA(scan_, "");
    if (typed.empty()) return;
    std::string serial;
    std::string said = Gang::checkSerial(typed, serial);
    for (const auto& [port, held] : serials_)
        if (said.empty() && held == serial) said = serial + " is port " + std::to_string(port) + "'s already";
    if (said.empty()) {
        said = "Every port has a serial: click one to clear it";
        for (const Tile& tile : tiles_)
            if (!serials_.count(tile.port)) {
                serials_[tile.port] = serial;
                said = serial + " on port " + std::to_string(tile.port);
                break;
            }
    }
    showAll();
    setText(GetDlgItem(window_.load(), IDC_GANG_SUMMARY), said);
}

void GangWindow::clearSerial(int port) {
    if (running_ || !serials_.erase(port)) return;
    showAll();
}

void GangWindow::showAll() {
    for (const GangBoard::Tile& tile : board_.tiles()) show(tile);
    showSummary();
}

void GangWindow::showSummary() {
    int counts[7] = {};
    const std::vector<GangBoard::Tile> tiles = board_.tiles();
    for (const GangBoard::Tile& tile : tiles) ++counts[static_cast<int>(tile.state)];
    std::string summary;
    if (counts[static_cast<int>(GangBoard::State::Running)] > 0) {
        summary = "Running: " + std::to_string(counts[static_cast<int>(GangBoard::State::Running)]) + " of " +
                  std::to_string(tiles.size()) + " ports";
    } else if (counts[static_cast<int>(GangBoard::State::Idle)] > 0) {
        summary = std::to_string(tiles.size()) + " ports: tick the stages, then Start (Enter)";
    } else {
        const std::pair<GangBoard::State, const char*> parts[] = {
            {GangBoard::State::Passed, "passed"},        {GangBoard::State::Failed, "failed"},
            {GangBoard::State::NoRouter, "no router"},   {GangBoard::State::Interrupted, "interrupted"},
            {GangBoard::State::NotRun, "not run"}};
        for (const auto& part : parts)
            if (counts[static_cast<int>(part.first)] > 0)
                summary += (summary.empty() ? "Done: " : ", ") + std::to_string(counts[static_cast<int>(part.first)]) +
                           " " + part.second;
    }
    setText(GetDlgItem(window_.load(), IDC_GANG_SUMMARY), summary);
}

void GangWindow::told(const std::string& line) {
    std::lock_guard<std::mutex> lock(toldMutex_);
    told_.push_back(line);
}

void GangWindow::showTold() {
    std::vector<std::string> lines;
    {
        std::lock_guard<std::mutex> lock(toldMutex_);
        lines.swap(told_);
    }
    if (lines.empty()) return;
    constexpr std::size_t shown = 20;
    std::string text = "Runs that were killed before they ended are recorded now:\n\n";
    for (std::size_t i = 0; i < lines.size() && i < shown; ++i) text += lines[i] + "\n";
    if (lines.size() > shown) text += "... and " + std::to_string(lines.size() - shown) + " lines more\n";
    MessageBoxA(window_.load(), text.c_str(), "Vornix", MB_OK | MB_ICONINFORMATION);
}

void GangWindow::showLog(int port) {
    LogView view{&board_, port, "Port " + std::to_string(port) + ": run log"};
    for (const Gang::Port& entry : ports_)
        if (entry.port.number == port) view.caption = "Port " + std::to_string(port) + " (" + entry.port.interfaceName + "): run log";
    DialogBoxParamA(instance_, MAKEINTRESOURCEA(IDD_GANG_LOG), window_.load(), &logProc,
                    reinterpret_cast<LPARAM>(&view));
}

}  // namespace vornix
