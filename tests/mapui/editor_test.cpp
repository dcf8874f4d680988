// Editing the map with the mouse on the real main window: hit tests, host and line drags,
// the add and delete commands with their one-shot states, Shift while monitoring, full
// tables and a window too small for the grid.
#include "mapui/editor.h"
#include "mapui/statusbar.h"
#include "model/hosts.h"
#include "monitor/mapwnd.h"
#include "monitor/poll.h"
#include "platform/testing.h"
#include "resources/commands.h"
#include "support/map_window.h"
#include "support/ui_fixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

using namespace platform;

namespace {

using Cell = std::pair<int, int>;

Cell At(int host) {
    return {hostTable[host].col, hostTable[host].row};
}

// A line's ends as "x1,y1-x2,y2".
std::string Ends(int line) {
    const LineRecord& l = lineTable[line];
    return std::to_string(l.x1) + "," + std::to_string(l.y1) + "-" + std::to_string(l.x2) + "," +
           std::to_string(l.y2);
}

class EditorTest : public MapWindowTest {
  protected:
    // A menu or box nobody expected is cancelled: the test fails instead of hanging.
    void SetUp() override {
        MapWindowTest::SetUp();
        AnswerUnaskedQuestions(true);
    }
    void TearDown() override {
        AnswerUnaskedQuestions(false);
        MapWindowTest::TearDown();
    }
    void Command(UINT command) { SendMessage(window_, WM_COMMAND, command, 0); }
    void EnterEditMode() {
        Command(CMD_EDIT_MODE);
        ASSERT_EQ(editMode, EDIT_ON);
    }
    // A press, moves through `path` and a release of one button at its last cell.
    void Drag(UINT down, WPARAM keys, std::initializer_list<Cell> path) {
        const UINT up = down == WM_LBUTTONDOWN ? WM_LBUTTONUP : WM_RBUTTONUP;
        const WPARAM held = keys | (down == WM_LBUTTONDOWN ? MK_LBUTTON : MK_RBUTTON);
        Mouse(down, path.begin()->first, path.begin()->second, held);
        for (const Cell& cell : path)
            if (&cell != path.begin())
                Mouse(WM_MOUSEMOVE, cell.first, cell.second, held);
        Mouse(up, (path.end() - 1)->first, (path.end() - 1)->second, keys);
    }
    void RightClick(int col, int row) { Drag(WM_RBUTTONDOWN, 0, {{col, row}}); }
};

TEST_F(EditorTest, DraggingAHostPutsItsTopLeftCellUnderTheCursor) {
    EnterEditMode();
    HostRecord& alpha = hostTable[0];
    ASSERT_GE(alpha.drawWidth, gridCellWidth) << "painted wider than a cell";
    ASSERT_GE(alpha.drawHeight, gridCellHeight);
    const Cell lowerRight = {alpha.col + alpha.drawWidth / gridCellWidth,
                             alpha.row + alpha.drawHeight / gridCellHeight};
    ASSERT_EQ(HitTestHost(lowerRight.first, lowerRight.second), 0);

    Mouse(WM_LBUTTONDOWN, lowerRight.first, lowerRight.second, MK_LBUTTON);
    EXPECT_EQ(MapState(), "mode 1 host 0 line -1 timer 0 hosts 3 lines 3");
    EXPECT_EQ(StatusText(), "Drag alpha to its new location.");
    EXPECT_EQ(At(0), Cell(2, 2)) << "pressing alone moves nothing";
    Mouse(WM_MOUSEMOVE, lowerRight.first + 1, lowerRight.second, MK_LBUTTON);
    EXPECT_EQ(At(0), Cell(lowerRight.first + 1, lowerRight.second));
    Mouse(WM_MOUSEMOVE, 14, 20, MK_LBUTTON);
    Mouse(WM_LBUTTONUP, 14, 20);
    EXPECT_EQ(At(0), Cell(14, 20));
    EXPECT_EQ(MapState(), "mode 1 host -1 line -1 timer 0 hosts 3 lines 3");
    EXPECT_EQ(StatusText(), defaultStatusText);
    EXPECT_EQ(lineTable[0].x1, 3) << "lines are not attached to hosts";

    // A plain click on a cell of the host other than its top-left moves it there; a click
    // on the top-left cell leaves it.
    UpdateWindow(mapWindow);
    LeftClick(15, 21);
    EXPECT_EQ(At(0), Cell(15, 21));
    LeftClick(15, 21);
    EXPECT_EQ(At(0), Cell(15, 21));

    // Pressing where no host is asks for the top left, and the release clears the prompt.
    Mouse(WM_LBUTTONDOWN, 30, 25, MK_LBUTTON);
    EXPECT_EQ(StatusText(), "Press LEFT button on top left of host and drag.");
    Mouse(WM_LBUTTONUP, 30, 25);
    EXPECT_EQ(StatusText(), defaultStatusText);
}

TEST_F(EditorTest, DoubleClickInEditModeMovesTheHostThenOpensItsDialog) {
    EnterEditMode();
    DialogAnswers answers;
    answers.Queue(0);
    // The toolkit's order of a double click: down, up, double click, up.
    LeftClick(3, 3);
    Mouse(WM_LBUTTONDBLCLK, 3, 3, MK_LBUTTON);
    Mouse(WM_LBUTTONUP, 3, 3);
    EXPECT_EQ(answers.opened, 1);
    EXPECT_EQ(answers.hostAtOpening, 0) << "the dialog edits the host under the mouse";
    EXPECT_EQ(At(0), Cell(3, 3));
    EXPECT_EQ(MapState(), "mode 1 host -1 line -1 timer 0 hosts 3 lines 3");

    // A double click on an empty cell opens nothing.
    answers.Queue(0);
    Mouse(WM_LBUTTONDBLCLK, 30, 25, MK_LBUTTON);
    EXPECT_EQ(answers.opened, 1);
}

TEST_F(EditorTest, AddingAHostFromTheEditMenu) {
    // From monitoring (Check leaves the edit menu up with editMode 0) the countdown stops.
    ASSERT_EQ(pollState.timerActive, 1);
    Command(CMD_ADD_HOST);
    ASSERT_EQ(MapState(), "mode 1 host 3 line -1 timer 0 hosts 4 lines 3");
    EXPECT_STREQ(hostTable[3].name, "newhost");
    EXPECT_EQ(At(3), Cell(10, 35)) << "below the grid until the mouse moves";
    EXPECT_EQ(StatusText(), "Left click on location for new host");

    // It follows the mouse; the press is ignored; the release drops it and opens the
    // dialog. Cancelling leaves it on the map as "newhost".
    Mouse(WM_MOUSEMOVE, 8, 18);
    EXPECT_EQ(At(3), Cell(8, 18));
    DialogAnswers answers;
    answers.Queue(0);
    Mouse(WM_LBUTTONDOWN, 8, 18, MK_LBUTTON);
    EXPECT_EQ(currentHost, 3);
    Mouse(WM_LBUTTONUP, 8, 18);
    EXPECT_EQ(answers.opened, 1);
    EXPECT_EQ(answers.hostAtOpening, 3);
    EXPECT_STREQ(hostTable[3].name, "newhost");
    EXPECT_EQ(MapState(), "mode 1 host -1 line -1 timer 0 hosts 4 lines 3");

    // Dragging it again reopens the dialog; other hosts never do.
    answers.Queue(1);
    Drag(WM_LBUTTONDOWN, 0, {{8, 18}, {9, 19}});
    EXPECT_EQ(answers.opened, 2);
    EXPECT_EQ(hostTable[3].col, 9);
    LeftClick(10, 4);
    EXPECT_EQ(answers.opened, 2);

    // Chosen while a one-shot action waits, the new host still follows the mouse.
    Command(CMD_DELETE_HOST);
    Command(CMD_ADD_HOST);
    Mouse(WM_MOUSEMOVE, 30, 2);
    EXPECT_EQ(At(4), Cell(30, 2));

    // Chosen again before the drop, it adds no second host. Leaving edit mode lets go of
    // it, and takes away one that never reached the grid.
    Command(CMD_ADD_HOST);
    Command(CMD_EDIT_MODE);
    EXPECT_EQ(MapState(), "mode 0 host -1 line -1 timer 1 hosts 5 lines 3");
    Command(CMD_ADD_HOST);
    Command(CMD_EDIT_MODE);
    EXPECT_EQ(MapState(), "mode 0 host -1 line -1 timer 1 hosts 5 lines 3");
}

TEST_F(EditorTest, DeletingAHostEndsTheOneShotStateEitherWay) {
    EnterEditMode();
    Command(CMD_DELETE_HOST);
    EXPECT_EQ(editMode, EDIT_DELETE_HOST);
    EXPECT_EQ(StatusText(), "click on host to delete");

    // The right button does not end it, nor does the left press.
    RightClick(2, 2);
    EXPECT_EQ(editMode, EDIT_DELETE_HOST);
    Mouse(WM_LBUTTONDOWN, 30, 25, MK_LBUTTON);
    EXPECT_EQ(editMode, EDIT_DELETE_HOST);
    // A release on an empty cell deletes nothing and ends it.
    Mouse(WM_LBUTTONUP, 30, 25);
    EXPECT_EQ(MapState(), "mode 1 host -1 line -1 timer 0 hosts 3 lines 3");

    // A release on a host deletes it; those behind move down; lines stay.
    Command(CMD_DELETE_HOST);
    LeftClick(2, 2);
    ASSERT_EQ(MapState(), "mode 1 host -1 line -1 timer 0 hosts 2 lines 3");
    EXPECT_EQ(std::string(hostTable[0].name) + "," + hostTable[1].name, "beta,gamma");
    EXPECT_EQ(StatusText(), defaultStatusText);
}

TEST_F(EditorTest, AddingDraggingAndDeletingLinesAndFullTablesRefusingAdditions) {
    EnterEditMode();
    Command(CMD_ADD_LINE);
    EXPECT_EQ(editMode, EDIT_ADD_LINE);
    EXPECT_EQ(StatusText(), "Right click once at start, move mouse to end and right click again.");
    LeftClick(4, 7);
    EXPECT_EQ(editMode, EDIT_ADD_LINE) << "the left button does not end it";
    Mouse(WM_RBUTTONDOWN, 4, 7, MK_RBUTTON);
    EXPECT_EQ(lineCount, 3) << "the line starts on the release";
    Mouse(WM_RBUTTONUP, 4, 7);
    ASSERT_EQ(MapState(), "mode 1 host -1 line 3 timer 0 hosts 3 lines 4");
    EXPECT_EQ(lineTable[3].attr, 12);
    EXPECT_EQ(StatusText(), "Move mouse to end and right click.");
    Mouse(WM_MOUSEMOVE, 7, 7);
    Mouse(WM_MOUSEMOVE, 9, 7);
    RightClick(9, 7);
    EXPECT_EQ(MapState(), "mode 1 host -1 line -1 timer 0 hosts 3 lines 4");
    EXPECT_TRUE(Ends(3) == "4,7-9,7" || Ends(3) == "9,7-4,7") << Ends(3);

    // Dragging an end with the right button moves only that end.
    Mouse(WM_RBUTTONDOWN, 25, 5, MK_RBUTTON);
    EXPECT_EQ(currentLine, 1);
    EXPECT_EQ(StatusText(), "Drag end of line to new location.");
    Mouse(WM_MOUSEMOVE, 26, 8, MK_RBUTTON);
    Mouse(WM_RBUTTONUP, 27, 9);
    EXPECT_EQ(Ends(1), "20,5-27,9");
    EXPECT_EQ(StatusText(), defaultStatusText);
    Mouse(WM_RBUTTONDOWN, 22, 5, MK_RBUTTON);
    EXPECT_EQ(currentLine, -1);
    EXPECT_EQ(StatusText(), "Press RIGHT button on end of line and drag.");
    Mouse(WM_RBUTTONUP, 22, 5);

    // Delete: an empty cell ends the state; where two lines end, the earlier goes.
    Command(CMD_DELETE_LINE);
    EXPECT_EQ(editMode, EDIT_DELETE_LINE);
    EXPECT_EQ(StatusText(), "Right click on end of line to delete.");
    RightClick(30, 30);
    EXPECT_EQ(MapState(), "mode 1 host -1 line -1 timer 0 hosts 3 lines 4");
    Command(CMD_DELETE_LINE);
    RightClick(20, 5);
    ASSERT_EQ(MapState(), "mode 1 host -1 line -1 timer 0 hosts 3 lines 3");
    EXPECT_EQ(Ends(1), "20,5-20,10") << "the later line moved down";
    SaveMapPicture("map_edit_mode.png");

    // Full tables refuse additions.
    while (AppendHost(0, 30) >= 0) {
    }
    HostRecord last = hostTable[MAX_HOSTS - 1];
    Command(CMD_ADD_HOST);
    EXPECT_EQ(MapState(), "mode 1 host -1 line -1 timer 0 hosts 200 lines 3");
    EXPECT_EQ(StatusText(), hostTableFullText);
    EXPECT_EQ(std::memcmp(&last, &hostTable[MAX_HOSTS - 1], sizeof last), 0);
    Mouse(WM_MOUSEMOVE, 5, 5);
    EXPECT_EQ(hostTable[MAX_HOSTS - 1].row, 30) << "nothing follows the mouse";

    // The line table: refused when the state is chosen, and on the click if it filled
    // meanwhile; either way the state ends.
    Command(CMD_ADD_LINE);
    ASSERT_EQ(editMode, EDIT_ADD_LINE);
    while (AppendLine(1, 1) >= 0) {
    }
    RightClick(4, 7);
    EXPECT_EQ(MapState(), "mode 1 host -1 line -1 timer 0 hosts 200 lines 500");
    EXPECT_EQ(StatusText(), lineTableFullText);
    Command(CMD_ADD_LINE);
    EXPECT_EQ(editMode, EDIT_ON);
    EXPECT_EQ(StatusText(), lineTableFullText);
}

// A plain press while monitoring opens the host's detail window (seen end to end); with
// Shift it drags.
TEST_F(EditorTest, ShiftDragsWhileMonitoringAndHitTestsPreferTheTopLeftCellThenTableOrder) {
    ASSERT_EQ(editMode, EDIT_OFF);
    ASSERT_EQ(pollState.timerActive, 1);
    Mouse(WM_LBUTTONDOWN, 30, 25, MK_LBUTTON);
    EXPECT_EQ(GetCapture(), 0u) << "nothing opens on an empty cell";
    Mouse(WM_LBUTTONUP, 30, 25);

    // The countdown keeps running.
    Mouse(WM_LBUTTONDOWN, 10, 4, MK_LBUTTON | MK_SHIFT);
    EXPECT_EQ(GetCapture(), 0u);
    Mouse(WM_MOUSEMOVE, 12, 6, MK_LBUTTON | MK_SHIFT);
    Mouse(WM_LBUTTONUP, 12, 6, MK_SHIFT);
    EXPECT_EQ(At(1), Cell(12, 6));
    Drag(WM_RBUTTONDOWN, MK_SHIFT, {{25, 5}, {25, 7}});
    EXPECT_EQ(lineTable[1].y2, 7);
    EXPECT_EQ(MapState(), "mode 0 host -1 line -1 timer 1 hosts 3 lines 3");

    // Without Shift, moving the mouse while monitoring moves nothing.
    Drag(WM_LBUTTONDOWN, 0, {{12, 6}, {14, 8}});
    EXPECT_EQ(hostTable[1].col, 12);

    // Hit tests prefer the top-left cell, then table order.
    // alpha covers (2..5, 2..5), beta starts inside it at (4, 4) and covers (4..6, 4..6).
    hostTable[0].drawWidth = 79;
    hostTable[0].drawHeight = 60;
    hostTable[1].col = hostTable[1].row = 4;
    hostTable[1].drawWidth = hostTable[1].drawHeight = 40;
    EXPECT_EQ(HitTestHost(4, 4), 1) << "the exact top-left cell wins over an earlier overlap";
    EXPECT_EQ(HitTestHost(5, 5), 0) << "where neither starts, the earlier host";
    EXPECT_EQ(HitTestHost(6, 6), 1);
    EXPECT_EQ(HitTestHost(5, 6), 1) << "bounds are inclusive: 2 + 60 / 20 = 5 is alpha's last row";
    EXPECT_EQ(HitTestHost(7, 4), -1);
    hostTable[0].drawWidth = hostTable[0].drawHeight = 0; // never drawn: only its top-left cell
    EXPECT_EQ(HitTestHost(3, 2), -1);
    EXPECT_EQ(HitTestHost(2, 2), 0);

    EXPECT_EQ(HitTestLineEnd(20, 5), 1) << "two lines end here: the earlier one";
    EXPECT_EQ(HitTestLineEnd(20, 10), 2);
    EXPECT_EQ(HitTestLineEnd(10, 4), 0);
    EXPECT_EQ(HitTestLineEnd(22, 5), -1) << "the middle of a line is not hit";
}

TEST_F(EditorTest, AWindowTooSmallForTheGridIgnoresTheMouseALargerOneKeepsHostsOnIt) {
    EnterEditMode();
    SetClientSize(30, 30);
    ASSERT_EQ(gridCellWidth, 0);
    int col = 0, row = 0;
    EXPECT_FALSE(CellFromPosition(MAKELPARAM(10, 10), &col, &row));
    SimulateMouse(mapWindow, WM_LBUTTONDOWN, 0, 0, MK_LBUTTON);
    SimulateMouse(mapWindow, WM_MOUSEMOVE, 5, 5, MK_LBUTTON);
    SimulateMouse(mapWindow, WM_LBUTTONUP, 5, 5, 0);
    SimulateMouse(mapWindow, WM_LBUTTONDBLCLK, 0, 0, MK_LBUTTON);
    SimulateMouse(mapWindow, WM_RBUTTONDOWN, 0, 0, MK_RBUTTON);
    SimulateMouse(mapWindow, WM_RBUTTONUP, 0, 0, 0);
    PumpPendingMessages();
    EXPECT_EQ(MapState(), "mode 1 host -1 line -1 timer 0 hosts 3 lines 3");
    EXPECT_EQ(hostTable[0].col, 2);

    // Grown again, the mouse works; the strip the cells leave over right of and below the
    // grid belongs to its last column and row, where a host stays in sight.
    SetClientSize(739, 719);
    ASSERT_EQ(gridCellWidth, 20);
    Drag(WM_LBUTTONDOWN, 0, {{2, 2}, {4, 3}});
    EXPECT_EQ(hostTable[0].col, 4);
    SimulateMouse(mapWindow, WM_LBUTTONDOWN, 85, 65, MK_LBUTTON);
    SimulateMouse(mapWindow, WM_MOUSEMOVE, 735, 715, MK_LBUTTON);
    SimulateMouse(mapWindow, WM_LBUTTONUP, 735, 715, 0);
    PumpPendingMessages();
    EXPECT_EQ(At(0), Cell(35, 34));
}

} // namespace
