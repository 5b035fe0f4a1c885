#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "app/Station.h"
#include "station/OperatorConsole.h"

namespace vornix {

// The operator dialog (template 102). It is also the operator console of the
// station: a worker's call is sent to the dialog as a message and carried out
// on the dialog's thread while the worker waits; the dialog never waits.
class MainDialog : public OperatorConsole {
public:
    explicit MainDialog(HINSTANCE instance);
    // Waits for a run still going on: its threads use this dialog. The
    // program itself never gets here: it ends with ExitProcess as soon as
    // the dialog ends (StationApp), and its runs end with it.
    ~MainDialog() override;

    // Runs the dialog modally on the calling thread until Enter, Escape or
    // the close box ends it.
    INT_PTR run();

    HWND window() const { return window_.load(); }

    void appendLog(const std::string& line) override;
    void clearLog() override;
    void enableStart(bool enabled) override;
    bool stageChosen(Stage stage) override;
    void clearScratch() override;
    void appendScratch(const std::string& item) override;
    int scratchCount() override;
    std::string scratchItem(int index) override;

private:
    static INT_PTR CALLBACK dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR handle(UINT message, WPARAM wParam, LPARAM lParam);
    bool initialise();
    void paintMinimised();
    void startPressed();
    // Carries work out on the dialog's thread and returns when it is done.
    void onDialogThread(const std::function<void()>& work);

    HINSTANCE instance_;
    std::atomic<HWND> window_{nullptr};
    HICON appIcon_;
    std::unique_ptr<Station> station_;

    // Control objects, bound when the dialog is created.
    HWND firmwareUpdateBox_ = nullptr;
    HWND startButton_ = nullptr;
    HWND bootUpdateBox_ = nullptr;
    HWND macWritingBox_ = nullptr;
    HWND scratchList_ = nullptr;
    HWND logList_ = nullptr;
};

}  // namespace vornix
