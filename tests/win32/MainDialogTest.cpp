// The dialog as the station's operator console, in this process: workers on
// several threads talk to it while its own thread runs it modally.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <thread>
#include <vector>

#include "app/MainDialog.h"
#include "app/resource.h"
#include "support/WindowSearch.h"

namespace vornix {
namespace {

class RunningDialog {
public:
    RunningDialog() : dialog_(GetModuleHandleA(nullptr)), thread_([this] { result_ = dialog_.run(); }) {
        for (int i = 0; i < 400 && !dialog_.window(); ++i) Sleep(25);
    }
    ~RunningDialog() {
        if (HWND w = dialog_.window()) PostMessageA(w, WM_COMMAND, IDCANCEL, 0);
        thread_.join();
    }
    MainDialog& operator*() { return dialog_; }
    MainDialog* operator->() { return &dialog_; }
    HWND item(int id) { return GetDlgItem(dialog_.window(), id); }

private:
    MainDialog dialog_;
    INT_PTR result_ = 0;
    std::thread thread_;
};

std::string lineFor(int t, int i) {
    return "thread " + std::to_string(t) + " line " + std::to_string(i) + " " + std::string(i % 89, 'x');
}

TEST(MainDialog, LinesFromManyThreadsArriveWholeInTheOrderServed) {
    RunningDialog dialog;
    ASSERT_NE(dialog->window(), nullptr) << "the dialog did not open";
    const int threads = 6, lines = 150;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&, t] {
            for (int i = 0; i < lines; ++i) dialog->appendLog(lineFor(t, i));
        });
    for (auto& w : workers) w.join();

    HWND log = dialog.item(IDC_LOG_LIST);
    const int count = static_cast<int>(SendMessageA(log, LB_GETCOUNT, 0, 0));
    ASSERT_EQ(count, threads * lines);
    std::vector<int> next(threads, 0);
    for (int k = 0; k < count; ++k) {
        const std::string line = test::listItem(log, k);
        int t = -1, i = -1;
        ASSERT_EQ(std::sscanf(line.c_str(), "thread %d line %d", &t, &i), 2) << line;
        ASSERT_TRUE(t >= 0 && t < threads);
        // Each thread's lines keep its order although the list has the sorted style.
        ASSERT_EQ(i, next[t]++) << "item " << k;
        ASSERT_EQ(line, lineFor(t, i));
    }
    // The newest line is selected and scrolled into view.
    EXPECT_EQ(SendMessageA(log, LB_GETCURSEL, 0, 0), count - 1);
    RECT item, client;
    SendMessageA(log, LB_GETITEMRECT, count - 1, reinterpret_cast<LPARAM>(&item));
    GetClientRect(log, &client);
    EXPECT_TRUE(item.top >= client.top && item.bottom <= client.bottom)
        << "last item at " << item.top << ".." << item.bottom << ", list client height " << client.bottom;

    dialog->clearLog();
    EXPECT_EQ(SendMessageA(log, LB_GETCOUNT, 0, 0), 0);
}

TEST(MainDialog, ConsoleCallsReachTheControls) {
    RunningDialog dialog;
    ASSERT_NE(dialog->window(), nullptr);

    dialog->appendScratch("zeta");
    dialog->appendScratch(std::string(3000, 'm'));
    dialog->appendScratch("alpha");
    EXPECT_EQ(dialog->scratchCount(), 3);
    EXPECT_EQ(dialog->scratchItem(0), "zeta");
    EXPECT_EQ(dialog->scratchItem(1), std::string(3000, 'm'));
    EXPECT_EQ(dialog->scratchItem(2), "alpha");
    EXPECT_EQ(dialog->scratchItem(3), "");
    dialog->clearScratch();
    EXPECT_EQ(dialog->scratchCount(), 0);

    EXPECT_FALSE(dialog->stageChosen(Stage::MacWriting));
    SendMessageA(dialog.item(IDC_MAC_WRITING), BM_SETCHECK, BST_CHECKED, 0);
    EXPECT_TRUE(dialog->stageChosen(Stage::MacWriting));
    EXPECT_FALSE(dialog->stageChosen(Stage::BootUpdate));
    EXPECT_FALSE(dialog->stageChosen(Stage::FirmwareUpdate));

    dialog->enableStart(false);
    EXPECT_FALSE(IsWindowEnabled(dialog.item(IDC_START)));
    dialog->enableStart(true);
    EXPECT_TRUE(IsWindowEnabled(dialog.item(IDC_START)));

    // A press of Start begins with an empty log.
    dialog->appendLog("left over from the last run");
    SendMessageA(dialog->window(), WM_COMMAND, MAKEWPARAM(IDC_START, BN_CLICKED),
                 reinterpret_cast<LPARAM>(dialog.item(IDC_START)));
    EXPECT_EQ(SendMessageA(dialog.item(IDC_LOG_LIST), LB_GETCOUNT, 0, 0), 0);
}

}  // namespace
}  // namespace vornix
