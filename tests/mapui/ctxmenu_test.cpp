// The host context menu opened by a right press while monitoring: which items it greys on
// a free cell, a host and a line end, and each of its commands with the poll countdown
// around them.
#include "mapui/ctxmenu.h"
#include "mapui/editor.h"
#include "mapui/statusbar.h"
#include "model/hosts.h"
#include "model/settings.h"
#include "monitor/mapwnd.h"
#include "monitor/poll.h"
#include "platform/dialog.h"
#include "platform/menu.h"
#include "platform/testing.h"
#include "resources/commands.h"
#include "support/map_window.h"
#include "support/ui_fixture.h"
#include "tools/ping.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace platform;

namespace {

bool Greyed(UINT command) {
    return (GetMenuState(hostContextMenu, command, MF_BYCOMMAND) & MF_GRAYED) != 0;
}

const UINT contextCommands[] = {
    CMD_CONTEXT_NEW_HOST, CMD_CONTEXT_NEW_LINE, CMD_CONTEXT_DELETE_HOST, CMD_CONTEXT_DELETE_LINE,
    CMD_CONTEXT_CONNECT,  CMD_CONTEXT_PING,     CMD_CONTEXT_TRACEROUTE,  CMD_CONTEXT_PROPERTIES};

// The commands of the menu that are offered (not greyed), in menu order.
std::vector<UINT> Offered() {
    std::vector<UINT> offered;
    for (UINT command : contextCommands)
        if (!Greyed(command))
            offered.push_back(command);
    return offered;
}

class ContextMenuTest : public MapWindowTest {
  protected:
    // A right press on the cell with `command` answered in the menu (0 dismisses it); its
    // release was taken by the menu.
    void Choose(int col, int row, UINT command) {
        QueuePopupMenuAnswer(command);
        Mouse(WM_RBUTTONDOWN, col, row, MK_RBUTTON);
    }
};

TEST_F(ContextMenuTest, ItemsAreGreyedByWhatLiesUnderTheCellAndFullTablesRefuse) {
    ASSERT_NE(hostContextMenu, 0u) << "built with the main window";
    char text[32];
    GetMenuString(hostContextMenu, CMD_CONTEXT_PROPERTIES, text, sizeof text, MF_BYCOMMAND);
    EXPECT_STREQ(text, "Properties...");
    EXPECT_EQ(GetMenuItemCount(hostContextMenu), 8);

    options.useIcmpLibrary = 1;
    options.useRawIcmp = 0;
    Choose(30, 20, 0);
    EXPECT_EQ((std::vector<int>{menuCol, menuRow, menuHost, menuLine}),
              (std::vector<int>{30, 20, -1, -1}));
    EXPECT_EQ(Offered(), (std::vector<UINT>{CMD_CONTEXT_NEW_HOST, CMD_CONTEXT_NEW_LINE}));

    Choose(10, 4, 0); // beta, where line 0 ends too
    EXPECT_EQ(menuHost, 1);
    EXPECT_EQ(menuLine, 0);
    EXPECT_EQ(Offered(),
              (std::vector<UINT>{CMD_CONTEXT_NEW_LINE, CMD_CONTEXT_DELETE_HOST,
                                 CMD_CONTEXT_DELETE_LINE, CMD_CONTEXT_CONNECT, CMD_CONTEXT_PING,
                                 CMD_CONTEXT_TRACEROUTE, CMD_CONTEXT_PROPERTIES}));

    // No echo engine: no Ping, no Traceroute, even on a host.
    options.useIcmpLibrary = 0;
    Choose(2, 2, 0);
    EXPECT_EQ(Offered(), (std::vector<UINT>{CMD_CONTEXT_NEW_LINE, CMD_CONTEXT_DELETE_HOST,
                                            CMD_CONTEXT_CONNECT, CMD_CONTEXT_PROPERTIES}));
    options.useRawIcmp = 1;
    Choose(2, 2, 0);
    EXPECT_FALSE(Greyed(CMD_CONTEXT_PING));

    // A line end on a free cell offers Delete > Line; a greyed item cannot be chosen.
    Choose(25, 5, CMD_CONTEXT_DELETE_HOST);
    EXPECT_EQ(Offered(), (std::vector<UINT>{CMD_CONTEXT_NEW_HOST, CMD_CONTEXT_NEW_LINE,
                                            CMD_CONTEXT_DELETE_LINE}));
    EXPECT_EQ(hostCount, 3);

    // Full tables refuse New > Host and New > Line, and say so.
    while (AppendHost(0, 30) >= 0) {
    }
    DialogAnswers answers;
    answers.Queue(1);
    Choose(30, 20, CMD_CONTEXT_NEW_HOST);
    EXPECT_EQ(answers.opened, 0);
    EXPECT_EQ(MapState(), "mode 0 host -1 line -1 timer 1 hosts 200 lines 3");
    EXPECT_EQ(StatusText(), hostTableFullText);
    ResetTestingSeams();

    while (AppendLine(1, 1) >= 0) {
    }
    Choose(30, 20, CMD_CONTEXT_NEW_LINE);
    EXPECT_EQ(MapState(), "mode 0 host -1 line -1 timer 1 hosts 200 lines 500");
    EXPECT_EQ(StatusText(), lineTableFullText);
    EXPECT_EQ(menuLine, -1);
}

TEST_F(ContextMenuTest, NewHostIsKeptOnlyWhenAcceptedAndPingAndTracerouteOpenTheirTool) {
    DialogAnswers answers;
    answers.Queue(0);
    Choose(12, 5, CMD_CONTEXT_NEW_HOST);
    EXPECT_EQ(answers.opened, 1);
    EXPECT_EQ(answers.hostAtOpening, 3) << "the dialog edits the new record";
    EXPECT_EQ(answers.timerAtOpening, 0) << "no cycle starts under the dialog";
    EXPECT_EQ(MapState(), "mode 0 host -1 line -1 timer 1 hosts 3 lines 3") << "dropped";

    answers.Queue(1);
    Choose(12, 5, CMD_CONTEXT_NEW_HOST);
    ASSERT_EQ(MapState(), "mode 0 host -1 line -1 timer 1 hosts 4 lines 3");
    EXPECT_EQ((std::vector<int>{hostTable[3].col, hostTable[3].row, int(hostTable[3].missed)}),
              (std::vector<int>{12, 5, 0}));

    // The whole picture is drawn at once, not only the strip a name would take.
    UpdateWindow(mapWindow);
    const HostRecord& added = hostTable[3];
    const COLORREF background = WindowPixel(mapWindow, 30 * 20, 25 * 20);
    int drawnBelowStrip = 0;
    for (int y = 5 * 20 + 24; y < 5 * 20 + added.drawHeight; ++y)
        for (int x = 12 * 20; x < 12 * 20 + added.drawWidth; ++x)
            drawnBelowStrip += WindowPixel(mapWindow, x, y) != background;
    EXPECT_GT(drawnBelowStrip, added.drawWidth);
    SaveMapPicture("context_new_host.png");

    // Ping and Traceroute open their tool on the host's address (the tools keep the countdown
    // stopped themselves).
    options.useIcmpLibrary = 1;
    for (auto [command, button] : {std::pair<UINT, const char*>{CMD_CONTEXT_PING, "&Ping"},
                                   {CMD_CONTEXT_TRACEROUTE, "&Trace Route"}}) {
        std::string seen;
        QueueDialogHook([&seen](HWND dialog) {
            seen = ItemTexts(dialog, {TOOL_START_BUTTON, TOOL_HOST_EDIT});
            PostMessage(dialog, WM_COMMAND, IDCANCEL, 0);
        });
        Choose(10, 4, command);
        EXPECT_EQ(seen, std::string(button) + "|127.0.0.1");
        EXPECT_EQ(pollState.timerActive, 1);
    }
}

TEST_F(ContextMenuTest, NewLineFollowsTheMouseAndReturnsToMonitoring) {
    HMENU run = GetMenu(window_);
    options.useRawIcmp = 0; // a quick cycle: TCP to a closed loopback port counts as an answer
    options.useIcmpLibrary = 0;
    options.probePort = 9;
    Choose(14, 16, CMD_CONTEXT_NEW_LINE);
    ASSERT_EQ(MapState(), "mode 1 host -1 line 3 timer 1 hosts 3 lines 4");
    EXPECT_EQ(StatusText(), "Move mouse to end and right click.");
    EXPECT_EQ(GetMenu(window_), run);

    // A cycle that runs meanwhile cannot restart the countdown in edit state ...
    pollState.countdown = 0;
    SendMessage(window_, WM_TIMER, POLL_TIMER_ID, 0);
    ASSERT_TRUE(RunCycleToEnd());
    EXPECT_EQ(pollState.timerActive, 0);
    EXPECT_EQ(hostTable[0].missed, 0u) << "the cycle ran";

    Mouse(WM_MOUSEMOVE, 15, 16);
    Mouse(WM_MOUSEMOVE, 16, 16);
    Mouse(WM_RBUTTONDOWN, 16, 16, MK_RBUTTON);
    Mouse(WM_RBUTTONUP, 16, 16);
    const LineRecord& line = lineTable[3];
    EXPECT_EQ((std::vector<int>{std::min(line.x1, line.x2), std::max(line.x1, line.x2), line.y1,
                                line.y2}),
              (std::vector<int>{14, 16, 16, 16}));
    // ... so dropping the line starts it again.
    EXPECT_EQ(MapState(), "mode 0 host -1 line -1 timer 1 hosts 3 lines 4");
    EXPECT_EQ(menuLine, -1);
    EXPECT_EQ(GetMenu(window_), run);
    EXPECT_EQ(StatusText(), defaultStatusText);

    // A menu dismissed over a line end leaves edit mode alone when that end is dragged.
    Choose(16, 16, 0);
    SendMessage(window_, WM_COMMAND, CMD_EDIT_MODE, 0);
    Mouse(WM_RBUTTONDOWN, 16, 16, MK_RBUTTON);
    Mouse(WM_RBUTTONUP, 17, 16);
    EXPECT_EQ(MapState(), "mode 1 host -1 line -1 timer 0 hosts 3 lines 4");
}

TEST_F(ContextMenuTest, DeleteHostLineAndProperties) {
    Choose(2, 2, CMD_CONTEXT_DELETE_HOST);
    ASSERT_EQ(MapState(), "mode 0 host -1 line -1 timer 1 hosts 2 lines 3") << "lines stay";
    EXPECT_STREQ(hostTable[0].name, "beta");
    EXPECT_EQ(menuHost, -1);

    Choose(20, 5, CMD_CONTEXT_DELETE_LINE);
    ASSERT_EQ(lineCount, 2);
    EXPECT_EQ(lineTable[1].y2, 10) << "the earlier of the two lines ending there went";
    EXPECT_EQ(menuLine, -1);
    // Sent with nothing there (as only a stale menu could), both do nothing.
    SendMessage(mapWindow, WM_COMMAND, CMD_CONTEXT_DELETE_LINE, 0);
    menuHost = -1;
    SendMessage(mapWindow, WM_COMMAND, CMD_CONTEXT_DELETE_HOST, 0);
    EXPECT_EQ(MapState(), "mode 0 host -1 line -1 timer 1 hosts 2 lines 2");

    DialogAnswers answers;
    answers.Queue(1);
    Choose(6, 12, CMD_CONTEXT_PROPERTIES);
    EXPECT_EQ(answers.opened, 1);
    EXPECT_EQ(answers.hostAtOpening, 1) << "gamma, now at index 1";
    EXPECT_EQ(answers.timerAtOpening, 0);
    EXPECT_EQ(MapState(), "mode 0 host -1 line -1 timer 1 hosts 2 lines 2");
}

} // namespace
