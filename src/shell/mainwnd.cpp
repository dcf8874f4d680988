// The main window procedure, the map window procedure, and the command table: each
// command goes to one small handler, with the window that received it.
#include "shell/mainwnd.h"

#include "mapui/ctxmenu.h"
#include "mapui/editor.h"
#include "mapui/options.h"
#include "mapui/parentlines.h"
#include "mapui/render.h"
#include "mapui/statusbar.h"
#include "model/hosts.h"
#include "model/mapdb.h"
#include "model/settings.h"
#include "monitor/alarms.h"
#include "monitor/mapwnd.h"
#include "monitor/poll.h"
#include "platform/help.h"
#include "platform/menu.h"
#include "platform/sound.h"
#include "platform/system.h"
#include "platform/window.h"
#include "platform/winsock.h"
#include "resources/commands.h"
#include "resources/dialogcommon.h"
#include "shell/about.h"
#include "shell/filecmds.h"
#include "shell/startup.h"

using namespace platform;

/*** globals ***/

int clientWidth = 0;
int clientHeight = 0;
HMENU runMenu = 0;
HMENU editMenu = 0;

// The menu bar the main window shows again when the wall view ends.
static HMENU menuBehindWallView = 0;

static const char* const EDIT_PROMPT =
    " LEFT drag hosts, RIGHT drag lines, LEFT DBLCLK to edit host";

/*** commands ***/

// Puts up the run or the edit menu; in the wall view it is only kept for the view's end.
static void ShowMenuBar(HMENU menu) {
    if (wallView != 0)
        menuBehindWallView = menu;
    else
        SetMenu(mainWindow, menu);
}

// The wall view: the map alone over the whole screen, without menu, toolbar or status bar.
static void ShowWallView(bool shown) {
    if ((wallView != 0) == shown)
        return;
    if (shown) {
        menuBehindWallView = GetMenu(mainWindow);
        SetMenu(mainWindow, 0);
    }
    wallView = shown ? 1 : 0;
    if (!shown)
        SetMenu(mainWindow, menuBehindWallView);
    ShowFullScreen(mainWindow, shown);
    LayoutMainWindow(mainWindow, SIZE_RESTORED);
    InvalidateRect(mapWindow, nullptr, true);
}

static void ToggleEditMode() {
    if (editMode == 0) {
        StopPollTimer();
        ReleaseEditorHolds();
        editMode = 1;
        ShowMenuBar(editMenu);
        InvalidateRect(mapWindow, nullptr, true);
        UpdateWindow(mapWindow);
        SetStatusText(EDIT_PROMPT);
        return;
    }
    if (editMode > 1)
        SetCursor(arrowCursor);
    ReleaseEditorHolds();
    editMode = 0;
    ShowMenuBar(runMenu);
    InvalidateRect(mapWindow, nullptr, true);
    UpdateWindow(mapWindow);
    StartPollTimer();
    SetStatusText(nullptr);
}

static void CheckNow() {
    if (pollState.inProgress)
        return;
    if (editMode == 1)
        editMode = 0;
    RunCountedPollCycle(mainWindow);
}

static void Abort() {
    if (editMode == 1)
        editMode = 0;
    AbortPollCycle();
}

static void Quiet() {
    if (editMode == 1)
        editMode = 0;
    QuietAlarms();
}

void RunCommand(HWND window, unsigned command) {
    switch (command) {
    case CMD_ABOUT:
        ShowAboutBox(window);
        break;
    case CMD_EDIT_MODE:
        ToggleEditMode();
        break;
    case CMD_CHECK:
        CheckNow();
        break;
    case CMD_ABORT:
        Abort();
        break;
    case CMD_QUIET:
        Quiet();
        break;
    case CMD_PREFERENCES:
        PreferencesCommand(window);
        break;
    case CMD_COLORS:
        ColorsCommand(window);
        break;
    case CMD_LOAD:
        LoadMapCommand(window);
        break;
    case CMD_SAVE:
        SaveMapCommand(window);
        break;
    case CMD_SAVE_AS:
        SaveMapAsCommand(window);
        break;
    case CMD_EXIT:
        PostMessage(mainWindow, WM_CLOSE, 0, 0);
        break;
    case CMD_NEW:
        if (window == mainWindow)
            NewMapCommand(window);
        break;
    case CMD_ADD_HOST:
        StartAddHost();
        break;
    case CMD_ADD_LINE:
        StartAddLine();
        break;
    case CMD_DELETE_HOST:
        StartDeleteHost();
        break;
    case CMD_DELETE_LINE:
        StartDeleteLine();
        break;
    case CMD_PARENTS_FROM_LINES:
        ShowParentsFromLines(window);
        break;
    case CMD_TELNET:
    case CMD_FTP:
    case CMD_LOOKUP:
    case CMD_WHOIS:
    case CMD_FINGER:
    case CMD_TRACEROUTE:
    case CMD_PING:
        LaunchTool(window, command);
        break;
    case CMD_CONTEXT_NEW_HOST:
    case CMD_CONTEXT_NEW_LINE:
    case CMD_CONTEXT_DELETE_HOST:
    case CMD_CONTEXT_DELETE_LINE:
    case CMD_CONTEXT_CONNECT:
    case CMD_CONTEXT_PING:
    case CMD_CONTEXT_TRACEROUTE:
    case CMD_CONTEXT_PROPERTIES:
        RunHostContextCommand(window, command);
        break;
    case CMD_HELP_CONTENTS:
        ShowHelp(window, HELP_TOPIC_CONTENTS);
        break;
    case CMD_HELP_MAIN_WINDOW:
        ShowHelp(window, HELP_TOPIC_MAIN_WINDOW);
        break;
    case CMD_HELP_HOST_INFO:
        ShowHelp(window, HELP_TOPIC_HOST_INFORMATION);
        break;
    case CMD_HELP_EDIT_MODE:
        ShowHelp(window, HELP_TOPIC_EDIT_MODE);
        break;
    case CMD_SHOW_TOOLBAR:
        if (window == mainWindow)
            ShowBar(mainWindow, BAR_TOOLBAR, BAR_TOGGLE);
        break;
    case CMD_SHOW_STATUS_BAR:
        if (window == mainWindow)
            ShowBar(mainWindow, BAR_STATUS, BAR_TOGGLE);
        break;
    case CMD_FULL_SCREEN:
        ShowWallView(wallView == 0);
        break;
    default:
        break;
    }
}

/*** the main window ***/

static void OnMainResize(HWND window, WPARAM sizeType, LPARAM size) {
    clientWidth = LOWORD(static_cast<std::uintptr_t>(size));
    clientHeight = HIWORD(static_cast<std::uintptr_t>(size));
    SetGridFromClientSize(clientWidth, clientHeight);
    LayoutMainWindow(window, sizeType);
    InvalidateRect(mapWindow, nullptr, true);
    // The wall view's place is the screen's, not the window's.
    if (sizeType != SIZE_MINIMIZED && wallView == 0) {
        RECT rect;
        GetWindowRect(window, &rect);
        SaveWindowPosition(rect);
    }
    LayoutStatusBar(window, clientWidth, clientHeight);
}

static void OnMainDestroy() {
    pollState.closeRequested = 1;
    EndPollCycle();
    DeleteObject(buttonFaceBrush);
    buttonFaceBrush = nullptr;
    DeleteEdgePens();
    FreeHostBitmaps();
    DestroyHostContextMenu();
    // The menu the window holds goes with it; the other (both, in the wall view) here.
    if (GetMenu(mainWindow) != runMenu)
        DestroyMenu(runMenu);
    if (GetMenu(mainWindow) != editMenu)
        DestroyMenu(editMenu);
    WinHelp(mainWindow, "tarnmap.hlp", HELP_QUIT, 0);
    PostQuitMessage(0);
}

// False when the user chose to stay, to keep unsaved edits. A termination signal never
// asks (and never writes the map).
static bool OnMainClose(HWND window) {
    if (!AskToSaveMapChanges(window))
        return false;
    pollState.closeRequested = 1;
    EndPollCycle();
    if (options.soundEnabled == 1)
        sndPlaySound(nullptr, 0);
    return true;
}

static bool IsQuietKey(WPARAM character) {
    return character == 27 || character == ' ' || character == 'Q' || character == 'q';
}

LRESULT MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        OnMainWindowCreate(window);
        return 0;
    case WM_DESTROY:
        OnMainDestroy();
        return 0;
    case WM_SIZE:
        OnMainResize(window, wParam, lParam);
        break;
    case WM_PAINT:
        if (IsIconic(window))
            return PaintMap(window);
        break;
    case WM_CLOSE:
        if (!OnMainClose(window))
            return 0;
        break;
    case WM_SETCURSOR:
        if (cursorState == 1) {
            SetCursor(busyCursor);
            return 0;
        }
        break;
    case WM_KEYDOWN:
        if (wParam == VK_F1 + 10)
            SendMessage(window, WM_COMMAND, CMD_FULL_SCREEN, 0);
        return 0;
    case WM_CHAR:
        // Escape leaves the wall view; it quiets the alarms only outside it.
        if (wParam == 27 && wallView != 0)
            ShowWallView(false);
        else if (IsQuietKey(wParam))
            SendMessage(window, WM_COMMAND, CMD_QUIET, 0);
        return 0;
    case WM_NOTIFY:
        return OnToolTipRequest(lParam);
    case WM_TIMER:
        if (wParam == POLL_TIMER_ID)
            OnPollTick(window);
        else if (wParam == PACE_TIMER_ID)
            OnPollPace(window);
        return 0;
    case WM_POLLPROBES:
        OnPollProbes(window);
        return 0;
    case WM_POLLCYCLEDONE:
        OnPollCycleDone(window);
        return 0;
    case WM_ASKMAPCOMMAND:
        AskWaitingMapCommand();
        return 0;
    case WM_COMMAND:
        RunCommand(window, LOWORD(wParam));
        return 0;
    default:
        break;
    }
    return DefWindowProc(window, message, wParam, lParam);
}

/*** the map window ***/

LRESULT MapWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT:
        return PaintMap(window);
    case WM_SETCURSOR:
        if (cursorState == 1) {
            SetCursor(busyCursor);
            return 0;
        }
        break;
    case WM_MOUSEMOVE:
        return OnMapMouseMove(window, wParam, lParam);
    case WM_LBUTTONDOWN:
        return OnMapLeftButtonDown(window, wParam, lParam);
    case WM_LBUTTONUP:
        return OnMapLeftButtonUp(window, wParam, lParam);
    case WM_LBUTTONDBLCLK:
        return OnMapLeftDoubleClick(window, wParam, lParam);
    case WM_RBUTTONDOWN:
        return OnMapRightButtonDown(window, wParam, lParam);
    case WM_RBUTTONUP:
        return OnMapRightButtonUp(window, wParam, lParam);
    case WM_COMMAND:
        RunCommand(window, LOWORD(wParam));
        return 0;
    default:
        break;
    }
    return DefWindowProc(window, message, wParam, lParam);
}
