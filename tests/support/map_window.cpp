// The main window fixtures: a fresh main window on the test's map, a window of the test's
// own, mouse input through the toolkit, and the program's state put back afterwards.
#include "support/map_window.h"

#include "mapui/ctxmenu.h"
#include "mapui/editor.h"
#include "mapui/statusbar.h"
#include "model/hosts.h"
#include "monitor/log.h"
#include "monitor/mapwnd.h"
#include "monitor/poll.h"
#include "monitor/programs.h"
#include "platform/commctl.h"
#include "platform/profile.h"
#include "platform/testing.h"
#include "platform/winsock.h"
#include "resources/resources.h"
#include "shell/mainwnd.h"
#include "shell/startup.h"
#include "support/ui_fixture.h"

#include <cstdlib>

using namespace platform;

const char* const testMapText = "V1\r\n"
                                "Halpha,127.0.0.1,first,one,2,2,0,1,2\r\n"
                                "Hbeta,127.0.0.1,second,two,10,4,0,1,3\r\n"
                                "Hgamma,127.0.0.1,third,three,6,12,0,1,0\r\n"
                                "N12,3,3,10,4\r\n"
                                "N12,20,5,25,5\r\n"
                                "N12,20,5,20,10\r\n";

namespace {

// The running fixture's callbacks, for the test window.
std::function<void(UINT_PTR)>* timerAction = nullptr;
std::function<void()>* messageAction = nullptr;

LRESULT TestWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TIMER && timerAction != nullptr && *timerAction) {
        (*timerAction)(wParam);
        return 0;
    }
    if (message == WM_USER && messageAction != nullptr && *messageAction) {
        (*messageAction)();
        return 0;
    }
    return DefWindowProc(window, message, wParam, lParam);
}

constexpr UINT_PTR CYCLE_LIMIT_TIMER_ID = 0x7ff0;

} // namespace

bool MainWindowTest::RunCycleToEnd(unsigned limitMs) {
    SetTimer(testWindow_, CYCLE_LIMIT_TIMER_ID, limitMs, nullptr);
    MSG message;
    bool ended = true;
    while (pollState.inProgress) {
        if (GetMessage(&message, 0, 0, 0) <= 0) {
            PostQuitMessage(static_cast<int>(message.wParam));
            ended = false;
            break;
        }
        if (message.message == WM_TIMER && message.hwnd == testWindow_ &&
            message.wParam == CYCLE_LIMIT_TIMER_ID) {
            ended = false;
            break;
        }
        TranslateMessage(&message);
        DispatchMessage(&message);
    }
    KillTimer(testWindow_, CYCLE_LIMIT_TIMER_ID);
    return ended;
}

void MainWindowTest::SetUp() {
    setenv("XDG_CONFIG_HOME", dir_.file("config").c_str(), 1);
    FlushProfileCache();
    ResetTestingSeams();
    RegisterResources();
    ConnectReports();
    WSADATA stack;
    ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &stack), 0);
    timerAction = &onTestTimer;
    messageAction = &onTestMessage;
    // Other fixtures of the same executable may have registered the classes already.
    static bool classes = RegisterWindowClasses();
    static bool testClass = [] {
        WNDCLASS windowClass{};
        windowClass.lpfnWndProc = TestWindowProcedure;
        windowClass.lpszClassName = "TARNMAPTESTWINDOW";
        return RegisterClass(&windowClass);
    }();
    (void)classes;
    ASSERT_TRUE(testClass);
    testWindow_ =
        CreateWindow("TARNMAPTESTWINDOW", "test", WS_OVERLAPPED, 0, 0, 10, 10, 0, 0, nullptr);
    ASSERT_NE(testWindow_, 0u);
}

void MainWindowTest::TearDown() {
    while (GetCapture() != 0 && IsWindow(GetCapture()))
        DestroyWindow(GetCapture());
    ReleaseCapture();
    for (HWND window : {testWindow_, window_})
        if (window != 0 && IsWindow(window))
            DestroyWindow(window);
    MSG message;
    while (PeekMessage(&message, 0, 0, 0, PM_REMOVE)) {
    }
    pollState.inProgress = 0; // a cycle the test left running ended with its window
    editMode = 0;
    currentHost = -1;
    currentLine = -1;
    menuHost = -1;
    menuLine = -1;
    timerAction = nullptr;
    messageAction = nullptr;
    // What ConnectDesktopReports adds to ConnectReports stays with the test that asked.
    programFailureReport = nullptr;
    mapCommandAllowed = nullptr;
    logFailureReport = nullptr;
    SetProfileRefusalReport(nullptr);
    ResetTestingSeams();
    EnableJournal(false);
    EXPECT_EQ(WSACleanup(), 0);
}

void MainWindowTest::OpenMap(const std::string& name, const std::string& map,
                             const std::string& settings, int width, int height) {
    WriteWholeFile(dir_.file(name + ".db"), map);
    WriteWholeFile(dir_.file(name + ".INI"), settings);
    FlushProfileCache();
    CopyField(mapPath, sizeof mapPath, (name + ".db").c_str());
    window_ = CreateWindow(MAIN_CLASS, "Tarnmap", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 1, 1, 640,
                           400, 0, 0, nullptr);
    ASSERT_NE(window_, 0u);
    ShowWindow(window_, SW_SHOW);
    SetClientSize(width, height);
    UpdateWindow(window_);
    UpdateWindow(mapWindow);
}

std::string MainWindowTest::PaneText(int part) {
    char text[1024] = {};
    SendMessage(statusBar, SB_GETTEXT, static_cast<WPARAM>(part), reinterpret_cast<LPARAM>(text));
    return text;
}

std::string MainWindowTest::Title() {
    char text[256] = {};
    GetWindowText(mainWindow, text, sizeof text);
    return text;
}

void MainWindowTest::SetClientSize(int width, int height) {
    RECT outer, client;
    GetWindowRect(window_, &outer);
    GetClientRect(window_, &client);
    int frameWidth = (outer.right - outer.left) - client.right;
    int frameHeight = (outer.bottom - outer.top) - client.bottom;
    MoveWindow(window_, 10, 10, width + frameWidth, height + frameHeight, true);
}

void MainWindowTest::SavePicture(HWND window, const char* name) {
    const char* output = std::getenv("TARNMAP_TEST_OUTPUT");
    std::string path = std::string(output != nullptr ? output : ".") + "/" + name;
    UpdateWindow(window);
    EXPECT_TRUE(SaveWindowImage(window, path.c_str()));
}

void MapWindowTest::SetUp() {
    MainWindowTest::SetUp();
    OpenMap("test", testMapText, "[OPTS]\r\nTIMER=15\r\nNOCHECK=0\r\n");
    ASSERT_EQ(gridCellWidth, 20);
    ASSERT_EQ(gridCellHeight, 20);
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

void MapWindowTest::SaveMapPicture(const char* name) {
    SavePicture(mapWindow, name);
}
