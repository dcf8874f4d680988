// The main window as the user meets it: created on a map, resized, driven by commands and
// keys; its bars, menus and title.
#include "mapui/editor.h"
#include "mapui/statusbar.h"
#include "model/hosts.h"
#include "model/settings.h"
#include "monitor/mapwnd.h"
#include "monitor/poll.h"
#include "platform/commctl.h"
#include "platform/dialog.h"
#include "platform/menu.h"
#include "platform/profile.h"
#include "platform/signals.h"
#include "platform/system.h"
#include "platform/testing.h"
#include "resources/commands.h"
#include "resources/dialogs_options.h"
#include "shell/about.h"
#include "shell/filecmds.h"
#include "shell/mainwnd.h"
#include "shell/maplinks.h"
#include "shell/startup.h"
#include "support/map_window.h"
#include "support/ui_fixture.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <vector>

using namespace platform;

namespace {

// A main window on a copy of the example map.
class OfficeWindowTest : public MainWindowTest {
  protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        OpenMap("office", ReadWholeFile(std::string(TARNMAP_SOURCE_DIR) + "/examples/office.db"),
                "[OPTS]\r\nTIMER=15\r\nNOCHECK=0\r\n");
    }
    // Runs the main loop until the quit message; false when it did not come.
    static bool RunUntilQuit() {
        MSG message{};
        int result = 1;
        for (int i = 0; i < 100 && result > 0; ++i)
            if ((result = GetMessage(&message, 0, 0, 0)) > 0)
                DispatchMessage(&message);
        return result == 0;
    }
};

// The countdown, the state word and the title of a fresh window are checked by the poll test.
TEST_F(OfficeWindowTest, TheMapLiesBetweenTheBarsAndFollowsTheSize) {
    EXPECT_EQ(hostCount, 9);
    RECT tool, status, map, client;
    GetWindowRect(toolBar, &tool);
    GetWindowRect(statusBar, &status);
    GetWindowRect(mapWindow, &map);
    GetClientRect(window_, &client);
    EXPECT_EQ(map.top, tool.bottom);
    EXPECT_EQ(map.bottom, status.top);
    EXPECT_EQ(map.right - map.left, client.right);
    SavePicture(window_, "main_window.png");

    // A client area of 360 x 350 gives cells of 10 x 10.
    SetClientSize(360, 350);
    GetClientRect(window_, &client);
    ASSERT_EQ(client.right, 360);
    ASSERT_EQ(client.bottom, 350);
    EXPECT_EQ(gridCellWidth, 10);
    EXPECT_EQ(gridCellHeight, 10);

    // The state pane ends 20 pixels short of the edge; the panes hold their texts in the
    // bar's font within the frame and inset the bar draws them with.
    int edges[3] = {};
    ASSERT_EQ(SendMessage(statusBar, SB_GETPARTS, 3, reinterpret_cast<LPARAM>(edges)), 3);
    EXPECT_EQ(edges[2], 340);
    HDC dc = GetDC(statusBar);
    SelectObject(dc, reinterpret_cast<HFONT>(SendMessage(statusBar, WM_GETFONT, 0, 0)));
    for (auto [part, text] : {std::pair<int, const char*>{1, "inactive"},
                              {1, "65535"},
                              {2, "POLL"},
                              {2, "EDIT"},
                              {2, "IDLE"}}) {
        SIZE size{};
        GetTextExtentPoint32(dc, text, static_cast<int>(std::strlen(text)), &size);
        RECT pane{};
        SendMessage(statusBar, SB_GETRECT, part, reinterpret_cast<LPARAM>(&pane));
        EXPECT_LE(size.cx, pane.right - pane.left - 4) << text;
    }
    ReleaseDC(statusBar, dc);
    SendMessage(statusBar, SB_SETTEXT, 1, reinterpret_cast<LPARAM>("inactive"));
    SavePicture(statusBar, "status_bar_narrow.png");

    // The position is saved on resize, not on minimising.
    char location[80];
    GetPrivateProfileString("OPTS", "LOC", "", location, sizeof location, settingsFiles.global);
    EXPECT_NE(std::string(location), "");
    WritePrivateProfileString("OPTS", "LOC", nullptr, settingsFiles.global);
    ShowWindow(window_, SW_MINIMIZE);
    GetPrivateProfileString("OPTS", "LOC", "", location, sizeof location, settingsFiles.global);
    EXPECT_EQ(std::string(location), "");
}

TEST_F(OfficeWindowTest, QuietKeysEditToggleAndCheckInEditMode) {
    hostTable[0].quiet = 0;
    SimulateKey(window_, VK_SPACE, ' ');
    EXPECT_EQ(hostTable[0].quiet, 1u) << "the blank key acts as Quiet";
    hostTable[0].quiet = 0;
    SendMessage(window_, WM_CHAR, 'x', 0);
    EXPECT_EQ(hostTable[0].quiet, 0u);
    SendMessage(window_, WM_CHAR, 'q', 0);
    EXPECT_EQ(hostTable[0].quiet, 1u);

    HMENU run = GetMenu(window_);
    SimulateMenuChoice(window_, CMD_EDIT_MODE);
    PumpPendingMessages();
    EXPECT_EQ(editMode, 1);
    EXPECT_NE(GetMenu(window_), run);
    EXPECT_EQ(pollState.timerActive, 0);
    EXPECT_EQ(PaneText(2), "EDIT");
    EXPECT_EQ(PaneText(0), " LEFT drag hosts, RIGHT drag lines, LEFT DBLCLK to edit host");

    // Check leaves edit mode but keeps the edit menu; End_edit then enters it again.
    options.useRawIcmp = 0;
    options.useIcmpLibrary = 0;
    options.probePort = 9; // TCP to loopback: refused, which counts as an answer
    SendMessage(window_, WM_COMMAND, CMD_CHECK, 0);
    ASSERT_TRUE(RunCycleToEnd());
    EXPECT_EQ(editMode, 0);
    EXPECT_NE(GetMenu(window_), run) << "the edit menu stays shown";
    EXPECT_EQ(pollState.countdown, 15);
    EXPECT_EQ(hostTable[1].missed, 0u);
    EXPECT_EQ(hostTable[1].status, 0u);
    EXPECT_EQ(Title(), "office");
    SendMessage(window_, WM_COMMAND, CMD_EDIT_MODE, 0);
    EXPECT_EQ(editMode, 1);
    SendMessage(window_, WM_COMMAND, CMD_EDIT_MODE, 0);
    EXPECT_EQ(editMode, 0);
    EXPECT_EQ(GetMenu(window_), run);
    EXPECT_EQ(pollState.timerActive, 1);
}

TEST_F(OfficeWindowTest, ToolbarTipsAndBarToggles) {
    char tip[64] = {};
    auto tipOf = [&tip](int item) {
        RECT button{};
        SendMessage(toolBar, TB_GETITEMRECT, item, reinterpret_cast<LPARAM>(&button));
        return ToolbarTipAt(toolBar, (button.left + button.right) / 2,
                            (button.top + button.bottom) / 2, tip, sizeof tip);
    };
    // The tips along the toolbar, as the pointer finds them; the separators have none.
    std::string tips;
    for (int item = 0; item < 9; ++item)
        tips += (tipOf(item) > 0 ? std::string(tip) : std::string("-")) + "|";
    EXPECT_EQ(tips, "Create New Map|Load Database|Save Database|-|Check Systems|Stop Check|"
                    "Quiet Alarm|-|Display Help|");

    RECT before;
    GetClientRect(mapWindow, &before);
    SendMessage(window_, WM_COMMAND, CMD_SHOW_TOOLBAR, 0);
    EXPECT_FALSE(IsWindowVisible(toolBar));
    EXPECT_EQ(GetMenuState(GetMenu(window_), CMD_SHOW_TOOLBAR, MF_BYCOMMAND) & MF_CHECKED, 0u);
    RECT without;
    GetClientRect(mapWindow, &without);
    RECT tool;
    GetWindowRect(toolBar, &tool);
    EXPECT_EQ(without.bottom, before.bottom + (tool.bottom - tool.top));
    SendMessage(window_, WM_COMMAND, CMD_SHOW_TOOLBAR, 0);
    EXPECT_TRUE(IsWindowVisible(toolBar));
    EXPECT_EQ(GetMenuState(GetMenu(window_), CMD_SHOW_TOOLBAR, MF_BYCOMMAND) & MF_CHECKED,
              MF_CHECKED);
    GetClientRect(mapWindow, &without);
    EXPECT_EQ(without.bottom, before.bottom);
}

// F11 shows the map alone over the whole screen; Escape brings back the menu that belongs
// (the edit menu, when edit mode began meanwhile) and the bars, and quiets nothing.
TEST_F(OfficeWindowTest, WallViewShowsTheMapAloneUntilEscape) {
    HMENU run = GetMenu(window_);
    SimulateKey(window_, VK_F1 + 10, 0);
    PumpPendingMessages();
    // The place kept for the next start stays the window's, not the screen's.
    RECT kept;
    ASSERT_TRUE(RestoreWindowPosition(&kept));
    EXPECT_LT(kept.right - kept.left, GetSystemMetrics(SM_CXSCREEN));
    EXPECT_EQ(GetMenu(window_), HMENU{0});
    EXPECT_FALSE(IsWindowVisible(toolBar));
    EXPECT_FALSE(IsWindowVisible(statusBar));
    RECT map, client;
    GetWindowRect(mapWindow, &map);
    GetClientRect(window_, &client);
    EXPECT_EQ(client.right, GetSystemMetrics(SM_CXSCREEN));
    EXPECT_EQ(client.bottom, GetSystemMetrics(SM_CYSCREEN));
    EXPECT_EQ(map.right - map.left, client.right);
    EXPECT_EQ(map.bottom - map.top, client.bottom);
    // On a wall screen of 1920 x 1080, with the pictures grown to the grid.
    options.fitMap = 1;
    MoveWindow(window_, 0, 0, 1920, 1080, true);
    SavePicture(mapWindow, "wall_view.png");
    options.fitMap = 0;
    SendMessage(window_, WM_COMMAND, CMD_EDIT_MODE, 0);
    EXPECT_EQ(GetMenu(window_), HMENU{0}) << "edit mode keeps the wall view bare";
    SendMessage(window_, WM_COMMAND, CMD_EDIT_MODE, 0);
    SendMessage(window_, WM_COMMAND, CMD_EDIT_MODE, 0);

    hostTable[0].quiet = 0;
    SimulateKey(window_, VK_ESCAPE, 27);
    PumpPendingMessages();
    EXPECT_EQ(hostTable[0].quiet, 0u) << "Escape only left the wall view";
    EXPECT_EQ(GetMenu(window_), editMenu);
    EXPECT_NE(GetMenu(window_), run);
    EXPECT_TRUE(IsWindowVisible(toolBar));
    EXPECT_TRUE(IsWindowVisible(statusBar));
    RECT tool, status;
    GetWindowRect(toolBar, &tool);
    GetWindowRect(statusBar, &status);
    GetWindowRect(mapWindow, &map);
    EXPECT_EQ(map.top, tool.bottom);
    EXPECT_EQ(map.bottom, status.top);
    SimulateKey(window_, VK_ESCAPE, 27);
    EXPECT_EQ(hostTable[0].quiet, 1u) << "outside the wall view Escape quiets";
}

// The map's settings file goes along to the name it is saved as; the log stays where it
// was written. A save that fails keeps the map's name.
TEST_F(OfficeWindowTest, SaveAsTakesTheSettingsAlong) {
    EnableJournal(true);
    const std::string settings = "[OPTS]\r\nNOCHECK=0\r\n[gateway]\r\nEXTERNAL=page.sh\r\n";
    WriteWholeFile(dir_.file("untitled.INI"), settings);
    SendMessage(window_, WM_COMMAND, CMD_NEW, 0);
    EXPECT_EQ(hostCount, 0);
    EXPECT_EQ(std::string(settingsFiles.mapSettings), dir_.file("untitled.INI"));

    // A cancelled save of an untitled map is AMapRefusedOnLoadIsNeverSavedOver's.
    SaveNextBoxImage(PicturePath("save_as_dialog.png").c_str());
    QueueFileDialogAnswer("b\u00fcro.db"); // file names are UTF-8, the title shows them so
    SendMessage(window_, WM_COMMAND, CMD_SAVE, 0);
    EXPECT_EQ(ReadWholeFile(dir_.file("b\u00fcro.INI")), settings);
    EXPECT_EQ((std::vector<std::string>{mapPath, settingsFiles.mapSettings, settingsFiles.mapLog,
                                        ShownText(window_)}),
              (std::vector<std::string>{dir_.file("b\u00fcro.db"), dir_.file("b\u00fcro.INI"),
                                        dir_.file("b\u00fcro.LOG"), "b\u00fcro"}));
    EXPECT_TRUE(Holds(ReadWholeFile(dir_.file("untitled.LOG")), "open of database untitled.db"))
        << "the log stays where it was";

    // A settings file of the new name is replaced once the user agreed: by overwriting its
    // map in the save dialog, or by the question when there is no map of that name.
    WriteWholeFile(dir_.file("other.db"), "V1\r\n");
    WriteWholeFile(dir_.file("other.INI"), "[OPTS]\r\nTIMER=99\r\n");
    WriteWholeFile(dir_.file("stray.INI"), "[OPTS]\r\nTIMER=77\r\n");
    QueueFileDialogAnswer("other.db");
    SendMessage(window_, WM_COMMAND, CMD_SAVE_AS, 0);
    EXPECT_EQ(ReadWholeFile(dir_.file("other.INI")), settings);
    auto saveAs = [this](const std::string& name, int answer) { // and the box it then shows
        QueueFileDialogAnswer(name.c_str());
        QueueMessageBoxAnswer(answer);
        SendMessage(window_, WM_COMMAND, CMD_SAVE_AS, 0);
    };
    saveAs("stray.db", IDNO);
    EXPECT_EQ(ReadWholeFile(dir_.file("stray.INI")), "[OPTS]\r\nTIMER=77\r\n");
    EXPECT_EQ(JournalEntries().back(),
              "messagebox: Tarnmap: " + dir_.file("stray.INI") +
                  " already exists. Replace it with the settings of this map?");

    // Settings that cannot be carried (their name is a folder) stay in use where they are:
    // the hosts' alarms do not go quiet for the rest of the run.
    std::filesystem::create_directory(dir_.file("folder.INI"));
    saveAs("folder.db", IDOK);
    EXPECT_TRUE(Holds(JournalEntries().back(), "They are still in " + dir_.file("stray.INI")));
    EXPECT_EQ(std::string(settingsFiles.mapSettings), dir_.file("stray.INI"));

    // A save that cannot be written says so and keeps the map's name.
    saveAs("no/such/dir/copy.db", IDOK);
    EXPECT_EQ(PaneText(0), "Database write error.");
    EXPECT_EQ(JournalEntries().back(), "messagebox: Save error: Could not save the map to " +
                                           dir_.file("no/such/dir/copy.db") +
                                           ": No such file or directory.");
    EXPECT_EQ(std::string(mapPath), dir_.file("folder.db"));
    // So does a path longer than the map's path holds.
    saveAs(std::string(MAP_PATH_LENGTH, 'a') + ".db", IDOK);
    EXPECT_EQ(JournalEntries().back(), "messagebox: Save error: The chosen path is longer than "
                                       "159 characters; the map was not saved.");
    EXPECT_EQ(std::string(mapPath), dir_.file("folder.db"));
    EXPECT_EQ(pollState.timerActive, 1) << "file commands restart the countdown";
}

// A map file that was not read leaves an untitled map: Save asks for a name instead of
// writing the empty tables over that file.
TEST_F(OfficeWindowTest, AMapRefusedOnLoadIsNeverSavedOver) {
    const std::string newer = "V2\r\nHfuture,10.0.0.1,,,1,1,0,1,0\r\n";
    WriteWholeFile(dir_.file("newer.db"), newer);
    QueueFileDialogAnswer("newer.db");
    QueueMessageBoxAnswer(IDOK); // the version error
    SendMessage(window_, WM_COMMAND, CMD_LOAD, 0);
    EXPECT_EQ(Title(), "untitled");
    EnableJournal(true);
    QueueFileDialogAnswer(nullptr);
    SendMessage(window_, WM_COMMAND, CMD_SAVE, 0);
    ASSERT_EQ(JournalEntries().size(), 1u);
    EXPECT_EQ(JournalEntries()[0].rfind("save: ", 0), 0u) << "Save asked for a name";
    EXPECT_EQ(ReadWholeFile(dir_.file("newer.db")), newer);
}

// Unsaved edits are asked about before New, Load, a linked map, Exit or the close box
// would drop them: Cancel keeps them, Save writes them, Discard lets them go.
TEST_F(OfficeWindowTest, EditsAreAskedAboutBeforeAnythingDropsThem) {
    EnableJournal(true);
    AnswerUnaskedQuestions(true);
    SendMessage(window_, WM_COMMAND, CMD_EDIT_MODE, 0);
    const HostRecord first = hostTable[0];
    BeginHostDrag(mapWindow, first.col, first.row);
    DragTo(mapWindow, first.col + 1, first.row);
    EndHostDrag(mapWindow, first.col + 1, first.row);
    SendMessage(window_, WM_COMMAND, CMD_EDIT_MODE, 0);
    EXPECT_EQ(Title(), "office*");

    const std::string question = "messagebox: Tarnmap: Save changes to office.db?";
    SaveNextBoxImage(PicturePath("save_changes_question.png").c_str());
    for (int command : {int{CMD_NEW}, int{CMD_LOAD}, int{CMD_EXIT}, 0, 1}) {
        ClearJournal();
        QueueMessageBoxAnswer(IDCANCEL);
        if (command == 0)
            SimulateCloseBox(window_);
        else if (command == 1)
            OpenLinkedMap(window_, "office.db");
        else
            SendMessage(window_, WM_COMMAND, static_cast<WPARAM>(command), 0);
        PumpPendingMessages();
        SCOPED_TRACE(command);
        EXPECT_EQ(JournalEntries(), std::vector<std::string>{question});
        ASSERT_TRUE(IsWindow(window_));
        EXPECT_EQ(hostTable[0].col, first.col + 1);
        EXPECT_EQ(Title(), "office*");
    }

    // Save, before a Load that is then cancelled.
    QueueMessageBoxAnswer(IDYES);
    QueueFileDialogAnswer(nullptr);
    SendMessage(window_, WM_COMMAND, CMD_LOAD, 0);
    const std::string saved = ReadWholeFile(dir_.file("office.db"));
    EXPECT_TRUE(
        Holds(saved, "," + std::to_string(first.col + 1) + "," + std::to_string(first.row) + ","));
    EXPECT_EQ(Title(), "office");

    // Discard, before the close box.
    editMode = EDIT_DELETE_LINE;
    EndLineAction(mapWindow, lineTable[0].x1, lineTable[0].y1);
    EXPECT_EQ(Title(), "office*");
    QueueMessageBoxAnswer(IDNO);
    SimulateCloseBox(window_);
    EXPECT_TRUE(RunUntilQuit());
    EXPECT_EQ(ReadWholeFile(dir_.file("office.db")), saved);
}

// A termination signal ends the program without a question and without writing the map,
// edits or not. In a child process: a signal's mark stays for the rest of the run.
TEST_F(OfficeWindowTest, ATerminationSignalNeitherAsksNorWrites) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::string map = ReadWholeFile(dir_.file("office.db"));
    EXPECT_EXIT(
        {
            EnableJournal(true);
            AnswerUnaskedQuestions(true);
            DeleteLine(0);
            PostMessageOnTermination(window_, WM_CLOSE);
            std::raise(SIGTERM);
            bool ended = RunUntilQuit();
            bool asked = false;
            for (const std::string& entry : JournalEntries())
                asked |= entry.rfind("messagebox", 0) == 0;
            std::exit(ended && !asked && ReadWholeFile(dir_.file("office.db")) == map ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
    // A dialog open when the signal comes closes, as a Win32 modal loop ends at WM_QUIT:
    // the program does not wait for the user. The alarm bounds the wait.
    EXPECT_EXIT(
        {
            alarm(10);
            PostMessageOnTermination(window_, WM_CLOSE);
            QueueDialogHook([](HWND) { std::raise(SIGTERM); });
            SendMessage(window_, WM_COMMAND, CMD_PREFERENCES, 0);
            std::exit(RunUntilQuit() ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
    // So does a host's menu, which the window's end frees while it is open.
    EXPECT_EXIT(
        {
            alarm(10);
            PostMessageOnTermination(window_, WM_CLOSE);
            std::thread([] {
                usleep(300000);
                kill(getpid(), SIGTERM);
            }).detach();
            SimulateMouse(mapWindow, WM_RBUTTONDOWN, 16 * gridCellWidth + 2, 7 * gridCellHeight + 2,
                          MK_RBUTTON);
            std::exit(RunUntilQuit() ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

// Records beyond the tables are told when the map opens, and dropped from its file only
// when the user says so.
TEST_F(MainWindowTest, RecordsBeyondTheTablesAreToldAndKeptUntilTheUserDropsThem) {
    std::string map = "V1\r\n";
    for (int i = 0; i < MAX_HOSTS + 3; ++i)
        map += "Hh" + std::to_string(i) + ",,,,1,1,1,1,0\r\n";
    for (int i = 0; i < MAX_LINES + 2; ++i)
        map += "N12,1,1,2,2\r\n";
    OpenMap("big", map, "");
    const std::string told = "3 host and 2 line records of big.db were not loaded: a map holds "
                             "at most 200 hosts and 500 lines.";
    EXPECT_EQ(PaneText(0), told);
    EXPECT_TRUE(Holds(ReadWholeFile(dir_.file("big.LOG")), told));

    EnableJournal(true);
    QueueMessageBoxAnswer(IDCANCEL);
    SendMessage(window_, WM_COMMAND, CMD_SAVE, 0);
    EXPECT_EQ(ReadWholeFile(dir_.file("big.db")), map);
    QueueMessageBoxAnswer(IDOK);
    SendMessage(window_, WM_COMMAND, CMD_SAVE, 0);
    SendMessage(window_, WM_COMMAND, CMD_SAVE, 0);
    EXPECT_EQ(JournalEntries(),
              std::vector<std::string>(2, "messagebox: Tarnmap: big.db holds 3 host and 2 line "
                                          "records that were not loaded. Saving over it drops "
                                          "them. Save anyway?"));
    std::string written = ReadWholeFile(dir_.file("big.db"));
    EXPECT_EQ(written.find("\nHh199,"), written.rfind("\nH")) << "200 hosts written";
}

// Metrics that cannot be served are told in a box, which stays when the map's opening has
// cleared the status bar, and in the log; the map opens all the same.
TEST_F(MainWindowTest, MetricsThatCannotBeServedAreToldInABox) {
    WriteWholeFile(dir_.file("TARNMAP.INI"), "[OPTS]\r\nMETRICS=192.0.2.1:9100\r\n");
    EnableJournal(true);
    QueueMessageBoxAnswer(IDOK);
    OpenMap("net", testMapText, "");
    const std::string told = "Metrics cannot be served on 192.0.2.1:9100: the address is not one "
                             "of this machine's. Monitoring goes on without them.";
    EXPECT_EQ(JournalEntries(), std::vector<std::string>{"messagebox: Tarnmap: " + told});
    EXPECT_TRUE(Holds(ReadWholeFile(dir_.file("net.LOG")), told));
    EXPECT_EQ(hostCount, 3);
}

TEST_F(OfficeWindowTest, HostDetailLinesAndWindow) {
    auto detailLines = [](const HostRecord& host) {
        char lines[DETAIL_LINES][DETAIL_LINE_LENGTH];
        return std::vector<std::string>(lines, lines + ComposeHostDetail(host, lines));
    };
    HostRecord host{};
    CopyField(host.address, sizeof host.address, "mail.example");
    CopyField(host.resolvedAddr, sizeof host.resolvedAddr, "mail.example");
    CopyField(host.info1, sizeof host.info1, "rack B");
    std::vector<std::string> head{"Name: mail.example", "Addr: (not resolved)", "Inf1: rack B",
                                  "Inf2: "};
    auto with = [&head](std::vector<std::string> tail) {
        tail.insert(tail.begin(), head.begin(), head.end());
        return tail;
    };
    EXPECT_EQ(detailLines(host), with({"Lost: 0", "Stat: reachable"}));
    CopyField(host.resolvedAddr, sizeof host.resolvedAddr, "10.1.2.3");
    head[1] = "Addr: 10.1.2.3";
    host.status = 11010;
    host.lost = 7;
    host.rtt = 12;
    EXPECT_EQ(detailLines(host), with({"Lost: 7", "Stat: Timed out", "RTT: 12 ms"}));
    host.status = 0;
    host.rtt = 0;
    host.rttTaken = 1;
    EXPECT_EQ(detailLines(host), with({"Lost: 7", "Stat: reachable", "RTT: <1 ms"}));
    host.status = 13;
    host.rttTaken = 0;
    EXPECT_EQ(detailLines(host), with({"Lost: 7", "Stat: 13"}));
    host.flags = HOST_PROTOCOL_NONE;
    EXPECT_EQ(detailLines(host), with({"Stat: Unknown"}));
    host.flags = HOST_PROTOCOL_NONE | HOST_NOT_MONITORED;
    EXPECT_EQ(detailLines(host), with({"Stat: Unknown"}));
    host.flags = HOST_NOT_MONITORED;
    EXPECT_EQ(detailLines(host), with({"Stat: Inactive"}));
    // An IPv6 address as typed is shown in its short form.
    CopyField(host.resolvedAddr, sizeof host.resolvedAddr, "2001:0DB8:0:0:0:0:0a:0001");
    head[1] = "Addr: 2001:db8::a:1";
    EXPECT_EQ(detailLines(host), with({"Stat: Inactive"}));

    // The window: none for -1; near the host, clamped to the desktop; gone on release.
    EXPECT_EQ(ShowHostDetail(mapWindow, -1), 0u);
    hostTable[0].col = 0;
    hostTable[0].row = 0;
    CopyField(hostTable[0].address, sizeof hostTable[0].address, "fd00:0:0:7::12");
    CopyField(hostTable[0].resolvedAddr, sizeof hostTable[0].resolvedAddr, "fd00:0:0:7::12");
    HWND detail = ShowHostDetail(mapWindow, 0);
    ASSERT_NE(detail, 0u);
    RECT place;
    GetWindowRect(detail, &place);
    EXPECT_GE(place.left, 10);
    EXPECT_GE(place.top, 10);
    EXPECT_EQ(GetCapture(), detail);
    SavePicture(detail, "host_detail.png");
    SendMessage(detail, WM_LBUTTONUP, 0, 0);
    MSG message;
    while (PeekMessage(&message, 0, 0, 0, PM_REMOVE))
        DispatchMessage(&message);
    EXPECT_FALSE(IsWindow(detail));
}

TEST_F(OfficeWindowTest, AboutBoxLines) {
    char line[256];
    ComposePlatformLine(line, sizeof line);
    EXPECT_EQ(std::string(line).rfind("Linux ", 0), 0u) << line;
    unsigned processors = GetProcessorCount();
    EXPECT_TRUE(Holds(line, "  - " + std::to_string(processors) + " "));
    EXPECT_TRUE(std::string(line).ends_with(processors == 1 ? " CPU" : " CPUs")) << line;
    ComposeMemoryLine(line, sizeof line);
    unsigned long total = 0, available = 0;
    ASSERT_EQ(std::sscanf(line, "Tot:%luk Avl:%luk", &total, &available), 2) << line;
    EXPECT_GT(total, available);
    ComposeDiskLine(line, sizeof line);
    unsigned long freeKb = 0;
    ASSERT_EQ(std::sscanf(line, "%lu KB Free", &freeKb), 1);
    EXPECT_EQ(freeKb, static_cast<unsigned long>(GetDiskFreeBytes(dir_.path().c_str()) / 1024));

    std::string picture = std::string(getenv("TARNMAP_TEST_OUTPUT")) + "/about_box.png";
    std::string version;
    QueueDialogHook([&](HWND dialog) {
        char text[64];
        GetDlgItemText(dialog, 921, text, sizeof text);
        version = text;
        SaveWindowImage(dialog, picture.c_str());
        PostMessage(dialog, WM_COMMAND, IDOK, 0);
    });
    SendMessage(window_, WM_COMMAND, CMD_ABOUT, 0);
    EXPECT_EQ(version, "Version 95.08.06");
    EXPECT_TRUE(FileExists(picture.c_str()));
}

TEST_F(OfficeWindowTest, CloseBoxEndsTheProgramAndHelpOpensItsPages) {
    char page[64];
    SendMessage(window_, WM_COMMAND, CMD_HELP_HOST_INFO, 0);
    ASSERT_TRUE(HelpWindowPage(page, sizeof page));
    EXPECT_STREQ(page, "host-information.html");
    SendMessage(window_, WM_COMMAND, CMD_HELP_CONTENTS, 0);
    HelpWindowPage(page, sizeof page);
    EXPECT_STREQ(page, "index.html");
    EXPECT_STREQ(HelpPageForTopic(300), "main-window.html");
    EXPECT_STREQ(HelpPageForTopic(600), "edit-mode.html");

    // A modal dialog leaves the help usable: the help shown before it, and its own "?".
    // The steps run from the dialog's loop, while it is up.
    HWND options = 0;
    int step = 0;
    onTestMessage = [&]() {
        EXPECT_TRUE(HelpWindowTakesInput()) << "step " << step;
        if (step++ == 0) {
            PostMessage(options, WM_COMMAND, OPTIONS_HELP, 0);
            PostMessage(testWindow_, WM_USER, 0, 0);
            return;
        }
        HelpWindowPage(page, sizeof page);
        EXPECT_STREQ(page, "options.html");
        EXPECT_TRUE(SaveHelpWindowImage(PicturePath("help_window.png").c_str()));
        PressEscapeInHelpWindow();
        EXPECT_FALSE(HelpWindowPage(page, sizeof page)) << "Escape closes it";
        PostMessage(options, WM_COMMAND, OPTIONS_EXIT, 0);
    };
    QueueDialogHook([&](HWND dialog) {
        options = dialog;
        PostMessage(testWindow_, WM_USER, 0, 0);
    });
    SendMessage(window_, WM_COMMAND, CMD_PREFERENCES, 0);
    EXPECT_EQ(step, 2);
    SendMessage(window_, WM_COMMAND, CMD_HELP_CONTENTS, 0);
    EXPECT_TRUE(HelpWindowTakesInput());

    SimulateCloseBox(window_);
    EXPECT_TRUE(RunUntilQuit());
    EXPECT_EQ(pollState.closeRequested, 1);
    EXPECT_FALSE(IsWindow(window_));
    EXPECT_FALSE(HelpWindowPage(page, sizeof page)) << "the help closes with the program";
}

TEST(Startup, MapChoiceCommandLineAndVendorRule) {
    TempDir dir(true);
    setenv("XDG_CONFIG_HOME", dir.file("config").c_str(), 1);
    FlushProfileCache();
    std::filesystem::create_directories(dir.file("config/tarnmap"));
    ChooseStartupMap();
    EXPECT_STREQ(mapPath, "tarnmap.db");
    WriteWholeFile(dir.file("fellmap.db"), "V1\r\n");
    ChooseStartupMap();
    EXPECT_STREQ(mapPath, "fellmap.db");
    WriteWholeFile(dir.file("config/tarnmap/TARNMAP.INI"), "[OPTS]\r\nFILE=missing.db\r\n");
    FlushProfileCache();
    ChooseStartupMap();
    EXPECT_STREQ(mapPath, "fellmap.db") << "a FILE that is missing gives way to fellmap.db";
    WriteWholeFile(dir.file("site.db"), "V1\r\n");
    WriteWholeFile(dir.file("config/tarnmap/TARNMAP.INI"), "[OPTS]\r\nFILE=site.db\r\n");
    FlushProfileCache();
    ChooseStartupMap();
    EXPECT_STREQ(mapPath, "site.db");

    EXPECT_TRUE(TakeCommandLineMap("/srv/maps/with blanks.db"));
    EXPECT_STREQ(mapPath, "/srv/maps/with blanks.db");
    std::string tooLong(MAP_PATH_LENGTH + 1, 'x');
    EXPECT_FALSE(TakeCommandLineMap(tooLong.c_str()));
    EXPECT_STREQ(mapPath, "/srv/maps/with blanks.db") << "refused, not cut";

    // Stacks known to lack one echo engine get the other; other stacks keep the settings.
    for (auto [stack, before, after] :
         {std::tuple{"Microsoft Windows Sockets Version 1.1.", 0u, 1u},
          {"Trumpet Winsock 2.1", 1u, 0u},
          {"SuperTCP", 1u, 0u},
          {"Linux sockets", 1u, 1u},
          {"Linux sockets", 0u, 0u}}) {
        options.useIcmpLibrary = before;
        options.useRawIcmp = 1 - before;
        AdaptProbeEngine(stack);
        EXPECT_EQ(options.useIcmpLibrary, after) << stack;
        EXPECT_EQ(options.useRawIcmp, 1 - after) << stack;
    }
}

} // namespace
