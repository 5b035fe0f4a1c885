#pragma once

#include <windows.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/Gang.h"
#include "app/GangBoard.h"

namespace vornix {

// The operator's window of a gang station (setup.ini with a [GANG]
// section): a tile per port, in slot order, that says from a step away how
// the port's run goes and went; one Start for every port. It runs the gang
// as vornix-cli --gang does (Gang::runAll), a process per port, and shows
// the gang's events; a double click on a tile shows that port's run log.
class GangWindow {
public:
    GangWindow(HINSTANCE instance, std::vector<Gang::Port> ports);
    ~GangWindow();
    GangWindow(const GangWindow&) = delete;
    GangWindow& operator=(const GangWindow&) = delete;

    // Modal on the calling thread until the operator leaves (Escape or the
    // close box; asked first while a port runs).
    INT_PTR run();

private:
    struct Tile {
        GangWindow* owner = nullptr;
        int port = 0;
        HWND window = nullptr;
        HWND title = nullptr, state = nullptr, stage = nullptr, mac = nullptr, elapsed = nullptr, line = nullptr;
        HWND serial = nullptr;  // on a station that scans its units' serials
        GangBoard::State shown = GangBoard::State::Idle;
    };

    static INT_PTR CALLBACK dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK tileProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK scanProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam);
    // The scan field's text as a serial: on the first tile without one.
    void takeScan();
    void clearSerial(int port);
    INT_PTR handle(UINT message, WPARAM wParam, LPARAM lParam);
    void initialise();
    // The tiles for ports_, made anew (the gang's ports changed).
    void makeTiles();
    void makeFonts(int dpi);
    void layout(int dpi);
    void startPressed();
    void leave();
    void show(const GangBoard::Tile& tile);
    void showAll();
    void showSummary();
    void showLog(int port);
    // What the recovery of killed runs said, shown to the operator once
    // the recovery is over (a window program has no standard error).
    void told(const std::string& line);
    void showTold();
    void post(UINT message, WPARAM wParam);
    // The state's colours: background, text.
    COLORREF background(GangBoard::State state) const;
    COLORREF text(GangBoard::State state) const;
    HBRUSH brush(GangBoard::State state) const;

    HINSTANCE instance_;
    std::vector<Gang::Port> ports_;
    GangBoard board_;
    Gang::Stop stop_;
    std::atomic<HWND> window_{nullptr};
    std::vector<Tile> tiles_;
    HFONT titleFont_ = nullptr, stateFont_ = nullptr, bodyFont_ = nullptr, lineFont_ = nullptr;
    HBRUSH brushes_[7] = {};
    bool highContrast_ = false;
    std::thread runner_;
    std::atomic<bool> running_{false};
    int dpi_ = 96;
    std::mutex toldMutex_;
    std::vector<std::string> told_;
    // [SERIAL] Source=scan: the scan field, and each port's unit's serial.
    bool scanning_ = false;
    HWND scan_ = nullptr;
    WNDPROC editProc_ = nullptr;
    std::map<int, std::string> serials_;
};

}  // namespace vornix
