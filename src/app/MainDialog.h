#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "app/RunSequencer.h"
#include "automation/ToolLauncher.h"
#include "platform/win32/ConfigManagerTree.h"
#include "platform/win32/IcmpEcho.h"
#include "platform/win32/Win32Profile.h"
#include "platform/win32/Win32ToolHost.h"
#include "platform/win32/Win32Windows.h"
#include "procedures/MacBlock.h"
#include "station/OperatorConsole.h"
#include "station/RunFlags.h"
#include "station/StationContext.h"
#include "station/StationStart.h"

namespace vornix {

// The operator dialog (template 102). It is also the operator console of the
// station: a worker's call is sent to the dialog as a message and carried out
// on the dialog's thread while the worker waits; the dialog never waits.
class MainDialog : public OperatorConsole {
public:
    explicit MainDialog(HINSTANCE instance);
    // Waits for a run still going on: its threads use this dialog's members.
    ~MainDialog() override;

    // Runs the dialog modally on the calling thread until Enter, Escape or
    // the close box ends it.
    INT_PTR run();

    HWND window() const { return window_.load(); }
    const StationSettings& settings() const { return settings_; }
    RunFlags& flags() { return flags_; }

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
    StationSettings settings_;

    RunFlags flags_;
    MacBlock macBlock_;  // start_mac's text stays here between runs
    RealPause pause_;
    platform::IcmpEcho echo_;
    platform::Win32Windows windows_;
    platform::Win32ToolHost toolHost_;
    platform::ConfigManagerTree devices_;
    ToolHandles toolHandles_;  // toolWindow and toolPage, as the last launch left them
    std::string stationDirectory_;
    std::unique_ptr<platform::Win32Profile> profile_;
    std::unique_ptr<StationContext> context_;
    std::unique_ptr<RunSequencer> sequencer_;

    // Control objects, bound when the dialog is created.
    HWND firmwareUpdateBox_ = nullptr;
    HWND startButton_ = nullptr;
    HWND bootUpdateBox_ = nullptr;
    HWND macWritingBox_ = nullptr;
    HWND scratchList_ = nullptr;
    HWND logList_ = nullptr;
};

}  // namespace vornix
