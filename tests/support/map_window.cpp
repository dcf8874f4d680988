// The map window fixture: a fresh main window on the test map, mouse input through the
// toolkit, and the editor's state put back afterwards.
#include "support/map_window.h"

#include "mapui/ctxmenu.h"
#include "mapui/editor.h"
#include "mapui/statusbar.h"
#include "model/hosts.h"
#include "monitor/mapwnd.h"
#include "monitor/poll.h"
#include "platform/commctl.h"
#include "platform/profile.h"
#include "platform/testing.h"
#include "platform/winsock.h"
#include "resources/resources.h"
#include "shell/filecmds.h"
#include "shell/startup.h"

#include <cstdlib>

using namespace platform;

const char* const testMapText = "V1\r\n"
                                "Halpha,127.0.0.1,first,one,2,2,0,1,2\r\n"
                                "Hbeta,127.0.0.1,second,two,10,4,0,1,3\r\n"
                                "Hgamma,127.0.0.1,third,three,6,12,0,1,0\r\n"
                                "N12,3,3,10,4\r\n"
                                "N12,20,5,25,5\r\n"
                                "N12,20,5,20,10\r\n";

void MapWindowTest::SetUp() {
    setenv("XDG_CONFIG_HOME", dir_.file("config").c_str(), 1);
    FlushProfileCache();
    ResetTestingSeams();
    WriteWholeFile(dir_.file("test.db"), testMapText);
    WriteWholeFile(dir_.file("test.INI"), "[OPTS]\r\nTIMER=15\r\nNOCHECK=0\r\n");
    RegisterResources();
    ConnectMapReports();
    WSADATA stack;
    ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &stack), 0);
    WSASetBlockingHook(BlockingHook);
    // Other fixtures of the same executable may have registered the classes already; a
    // class that is missing shows in CreateWindow below.
    static bool classes = RegisterWindowClasses();
    (void)classes;
    CopyField(mapPath, sizeof mapPath, "test.db");
    window_ = CreateWindow(MAIN_CLASS, "Tarnmap", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 1, 1, 640,
                           400, 0, 0, nullptr);
    ASSERT_NE(window_, 0u);
    ShowWindow(window_, SW_SHOW);
    SetClientSize(720, 700);
    ASSERT_EQ(gridCellWidth, 20);
    ASSERT_EQ(gridCellHeight, 20);
    UpdateWindow(window_);
    UpdateWindow(mapWindow);
}

void MapWindowTest::TearDown() {
    while (GetCapture() != 0 && IsWindow(GetCapture()))
        DestroyWindow(GetCapture());
    ReleaseCapture();
    if (IsWindow(window_))
        DestroyWindow(window_);
    MSG message;
    while (PeekMessage(&message, 0, 0, 0, PM_REMOVE)) {
    }
    editMode = 0;
    currentHost = -1;
    currentLine = -1;
    menuHost = -1;
    menuLine = -1;
    ResetTestingSeams();
    EnableJournal(false);
    WSAUnhookBlockingHook();
    WSACleanup();
}

void MapWindowTest::Mouse(UINT message, int col, int row, WPARAM keys) {
    SimulateMouse(mapWindow, message, col * gridCellWidth + gridCellWidth / 2,
                  row * gridCellHeight + gridCellHeight / 2, keys);
    PumpPendingMessages();
}

void MapWindowTest::LeftClick(int col, int row, WPARAM keys) {
    Mouse(WM_LBUTTONDOWN, col, row, keys | MK_LBUTTON);
    Mouse(WM_LBUTTONUP, col, row, keys);
}

std::string MapWindowTest::StatusText() {
    char text[256] = {};
    SendMessage(statusBar, SB_GETTEXT, 0, reinterpret_cast<LPARAM>(text));
    return text;
}

void MapWindowTest::SetClientSize(int width, int height) {
    RECT outer, client;
    GetWindowRect(window_, &outer);
    GetClientRect(window_, &client);
    int frameWidth = (outer.right - outer.left) - client.right;
    int frameHeight = (outer.bottom - outer.top) - client.bottom;
    MoveWindow(window_, 10, 10, width + frameWidth, height + frameHeight, true);
}

void MapWindowTest::SaveMapPicture(const char* name) {
    const char* output = std::getenv("TARNMAP_TEST_OUTPUT");
    std::string path = std::string(output != nullptr ? output : ".") + "/" + name;
    UpdateWindow(mapWindow);
    EXPECT_TRUE(SaveWindowImage(mapWindow, path.c_str()));
}
