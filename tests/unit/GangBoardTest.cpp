#include <gtest/gtest.h>

#include "app/GangBoard.h"
#include "app/HeadlessConsole.h"

namespace vornix {
namespace {

using State = GangBoard::State;
using std::chrono::seconds;

std::vector<Gang::Port> threePorts() {
    return {{RouterPort{1, "eth1", "192.168.1.101"}, ""},
            {RouterPort{2, "eth2", "192.168.1.102"}, ""},
            {RouterPort{3, "eth3", "192.168.1.103"}, "the adapter eth3 is down (no link)"}};
}

GangBoard::Tile tileOf(const GangBoard& board, int port) {
    for (const GangBoard::Tile& tile : board.tiles())
        if (tile.number == port) return tile;
    return {};
}

TEST(GangBoard, ATilesStageFirstMacAndLastLineFollowTheRunsLines) {
    const struct {
        const char* name;
        bool mac, boot;
        std::vector<std::string> lines;  // as the port's process wrote them
        Gang::Result result;
        State state;
        const char* stage;
        const char* firstMac;
        const char* lastLine;
    } cases[] = {
        {"mac passed", true, false,
         {"Found 192.168.1.1", "process login procedure .....", "", "-----writing ENV-----",
          "Writing ethaddr = \"00:11:22:00:00:04\"", "Writing lan_mac = \"00:11:22:00:00:05\"",
          "Writing note = \"hello\"", "Writing ProductID VX100", "---------------------", "Verifying ..... ", "",
          "Verify OK : ProductID = \"VX100\"", "---------------------", ""},
         Gang::Result::Passed, State::Passed, "MAC Writing", "00:11:22:00:00:04", "Verify OK : ProductID = \"VX100\""},
        {"login failed", true, false, {"Found 192.168.1.1", "process login procedure .....", "", "Can't login the router"},
         Gang::Result::Failed, State::Failed, "MAC Writing", "", "Can't login the router"},
        {"no router", true, true, {"Can't ping 192.168.1.1!"}, Gang::Result::NoRouter, State::NoRouter,
         "checking the router", "", "Can't ping 192.168.1.1!"},
        {"mac then boot", true, true,
         {"Found 192.168.1.1", "Writing ethaddr = \"00:11:22:00:00:08\"", "", "-----Boot Update-----",
          "cd /var/tmp\\r\\n", "Boot Loader changed to 2.1", "---------------------", ""},
         Gang::Result::Passed, State::Passed, "BOOT Code Update", "00:11:22:00:00:08", "Boot Loader changed to 2.1"},
        {"boot alone, a command last", false, true, {"Found 192.168.1.1", "", "-----Boot Update-----", "cd /var/tmp\\r\\n"},
         Gang::Result::Interrupted, State::Interrupted, "BOOT Code Update", "", "cd /var/tmp\r\n"},
    };
    for (const auto& c : cases) {
        GangBoard board(threePorts());
        const GangBoard::Clock::time_point t0{};
        board.start(c.mac, c.boot, t0);
        for (const std::string& line : c.lines) board.line(1, line);
        EXPECT_EQ(tileOf(board, 1).state, State::Running) << c.name;
        board.ended(1, c.result, t0 + seconds(83));
        const GangBoard::Tile tile = tileOf(board, 1);
        EXPECT_EQ(tile.state, c.state) << c.name;
        EXPECT_EQ(tile.stage, c.stage) << c.name;
        EXPECT_EQ(tile.firstMac, c.firstMac) << c.name;
        EXPECT_EQ(tile.lastLine, c.lastLine) << c.name;
        EXPECT_EQ(GangBoard::elapsedText(tile, t0 + seconds(500)), "1:23") << c.name;
        // The log holds every line as the run logged it, a command's line end included.
        const std::vector<std::string> log = board.log(1);
        ASSERT_EQ(log.size(), c.lines.size()) << c.name;
        for (std::size_t i = 0; i < log.size(); ++i) EXPECT_EQ(log[i], HeadlessConsole::logLineOf(c.lines[i])) << c.name;
    }
}

TEST(GangBoard, OnlyRunningPortsAreBusyAndAPortThatCannotRunNeverStarts) {
    GangBoard board(threePorts());
    EXPECT_TRUE(board.busy().empty());
    const GangBoard::Tile unusable = tileOf(board, 3);
    EXPECT_EQ(unusable.state, State::NotRun);
    EXPECT_EQ(unusable.lastLine, "Can't use port 3 (eth3): the adapter eth3 is down (no link)");

    const GangBoard::Clock::time_point t0{};
    board.start(true, false, t0);
    EXPECT_EQ(board.busy(), (std::vector<int>{1, 2}));
    EXPECT_EQ(tileOf(board, 3).state, State::NotRun);
    EXPECT_EQ(GangBoard::elapsedText(tileOf(board, 2), t0 + seconds(7)), "0:07");
    EXPECT_EQ(GangBoard::elapsedText(tileOf(board, 3), t0 + seconds(7)), "");

    board.ended(2, Gang::Result::Passed, t0 + seconds(20));
    EXPECT_EQ(board.busy(), (std::vector<int>{1}));
    // Found killed once over: the time of its end stays.
    board.ended(2, Gang::Result::Interrupted, t0 + seconds(40));
    EXPECT_EQ(tileOf(board, 2).state, State::Interrupted);
    EXPECT_EQ(GangBoard::elapsedText(tileOf(board, 2), t0 + seconds(90)), "0:20");

    // A new start empties the log and the first MAC.
    board.line(1, "Writing ethaddr = \"00:11:22:00:00:00\"");
    board.start(true, false, t0 + seconds(100));
    EXPECT_TRUE(board.log(1).empty());
    EXPECT_EQ(tileOf(board, 1).firstMac, "");
    EXPECT_EQ(tileOf(board, 1).stage, "checking the router");
}

TEST(GangBoard, TextsForTheOperator) {
    EXPECT_EQ(GangBoard::busyText({4}), "Port 4 is");
    EXPECT_EQ(GangBoard::busyText({1, 2}), "Ports 1 and 2 are");
    EXPECT_EQ(GangBoard::busyText({1, 2, 4}), "Ports 1, 2 and 4 are");
    EXPECT_EQ(HeadlessConsole::logLineOf("echo a b > /x\\r\\n"), "echo a b > /x\r\n");
    EXPECT_EQ(HeadlessConsole::logLineOf("C:\\temp\\"), "C:\\temp\\");
}

TEST(GangBoard, ALogIsBoundedAndSaysWhatItLeftOut) {
    GangBoard board(threePorts());
    board.start(true, false, {});
    for (std::size_t i = 0; i < GangBoard::maxLogLines + 5; ++i) board.line(1, "line " + std::to_string(i));
    EXPECT_EQ(board.log(1).size(), GangBoard::maxLogLines);
    board.ended(1, Gang::Result::Failed, {});
    const std::vector<std::string> log = board.log(1, GangBoard::maxLogLines);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0], "(5 more lines: the whole log is in the port's transcript)");
    EXPECT_EQ(tileOf(board, 1).lastLine, "line " + std::to_string(GangBoard::maxLogLines + 4));
}

}  // namespace
}  // namespace vornix
