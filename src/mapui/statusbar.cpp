// The status bar's three panes, the toolbar with its tips, showing or hiding either, and
// the main window's layout around them.
#include "mapui/statusbar.h"

#include "mapui/editor.h"
#include "model/settings.h"
#include "monitor/mapwnd.h"
#include "monitor/poll.h"
#include "platform/commctl.h"
#include "platform/gdi.h"
#include "platform/menu.h"
#include "platform/window.h"
#include "resources/commands.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

using namespace platform;

/*** globals ***/

const char* const defaultStatusText = "Tarnmap network monitor - ready";
HWND statusBar = 0;
HWND toolBar = 0;
unsigned showToolbar = 1;
unsigned showStatusBar = 1;
unsigned wallView = 0;

static constexpr int TOOLBAR_BITMAP = 122;

static const TBBUTTON toolbarButtons[] = {
    {0, CMD_NEW, TBSTATE_ENABLED, TBSTYLE_BUTTON, {}, 0, 0},
    {1, CMD_LOAD, TBSTATE_ENABLED, TBSTYLE_BUTTON, {}, 0, 0},
    {2, CMD_SAVE_AS, TBSTATE_ENABLED, TBSTYLE_BUTTON, {}, 0, 0},
    {0, 0, TBSTATE_ENABLED, TBSTYLE_SEP, {}, 0, 0},
    {3, CMD_CHECK, TBSTATE_ENABLED, TBSTYLE_BUTTON, {}, 0, 0},
    {4, CMD_ABORT, TBSTATE_ENABLED, TBSTYLE_BUTTON, {}, 0, 0},
    {5, CMD_QUIET, TBSTATE_ENABLED, TBSTYLE_BUTTON, {}, 0, 0},
    {0, 0, TBSTATE_ENABLED, TBSTYLE_SEP, {}, 0, 0},
    {6, CMD_HELP_CONTENTS, TBSTATE_ENABLED, TBSTYLE_BUTTON, {}, 0, 0},
};

struct ToolTip {
    unsigned command;
    const char* text;
};

static const ToolTip toolTips[] = {
    {CMD_NEW, "Create New Map"},         {CMD_LOAD, "Load Database"},
    {CMD_SAVE_AS, "Save Database"},      {CMD_CHECK, "Check Systems"},
    {CMD_ABORT, "Stop Check"},           {CMD_QUIET, "Quiet Alarm"},
    {CMD_HELP_CONTENTS, "Display Help"}, {CMD_DELETE_LINE, "Delete Line"},
};

const char* ToolTipText(unsigned command) {
    for (const ToolTip& tip : toolTips)
        if (tip.command == command)
            return tip.text;
    return nullptr;
}

/*** creation and layout ***/

HWND CreateBars(HWND window) {
    InitCommonControls();
    statusBar = CreateStatusWindow(WS_CHILD | SBARS_SIZEGRIP, "", window, STATUS_BAR_ID);
    int edges[3] = {90, 180, 270};
    SendMessage(statusBar, SB_SETPARTS, 3, reinterpret_cast<LPARAM>(edges));
    ShowWindow(statusBar, SW_SHOW);
    toolBar =
        CreateToolbarEx(window, WS_CHILD | WS_VISIBLE | TBSTYLE_TOOLTIPS, TOOLBAR_ID, 8, nullptr,
                        TOOLBAR_BITMAP, toolbarButtons, static_cast<int>(std::size(toolbarButtons)),
                        16, 16, 16, 16, sizeof(TBBUTTON));
    ShowWindow(toolBar, SW_SHOW);
    return statusBar;
}

// The countdown pane holds its text with room for the pane's frame and inset.
static constexpr int COUNTDOWN_PANE_MARGIN = 8;

// The right edges of the three panes for a main window `width` pixels wide, with the
// widths in the status bar's font of "NORM" and of the countdown's widest text (0 when
// they could not be measured).
static void ComputeStatusPanes(int width, int normWidth, int countdownWidth, int edges[3]) {
    edges[2] = width - 20;
    if (normWidth <= 0 || countdownWidth <= 0) {
        edges[1] = width - 68;
        edges[0] = width - 100;
        return;
    }
    edges[1] = width - 20 - normWidth - 4;
    edges[0] = edges[1] - countdownWidth - COUNTDOWN_PANE_MARGIN;
}

// The width of the widest of `texts` in the status bar's font; 0 when it cannot be
// measured.
static int MeasureWidest(std::initializer_list<const char*> texts) {
    HDC dc = GetDC(statusBar);
    if (dc == nullptr)
        return 0;
    HFONT font = reinterpret_cast<HFONT>(SendMessage(statusBar, WM_GETFONT, 0, 0));
    HGDIOBJ previous = font != nullptr ? SelectObject(dc, font) : nullptr;
    int widest = 0;
    for (const char* text : texts) {
        SIZE size{};
        if (!GetTextExtentPoint32(dc, text, static_cast<int>(std::strlen(text)), &size)) {
            widest = 0;
            break;
        }
        widest = size.cx > widest ? size.cx : widest;
    }
    if (previous != nullptr)
        SelectObject(dc, previous);
    ReleaseDC(statusBar, dc);
    return widest;
}

// Shows or hides a bar by its switch; returns the height it takes.
static int PlaceBar(HWND bar, unsigned shown) {
    if (bar == 0)
        return 0;
    ShowWindow(bar, shown ? SW_SHOW : SW_HIDE);
    if (!shown)
        return 0;
    RECT rect;
    GetWindowRect(bar, &rect);
    return rect.bottom - rect.top;
}

void LayoutMainWindow(HWND window, WPARAM sizeType) {
    if (sizeType == SIZE_MINIMIZED)
        return;
    RECT client;
    GetClientRect(window, &client);
    bandTop = client.bottom - 20;
    int toolbarHeight = PlaceBar(toolBar, showToolbar && !wallView);
    int statusHeight = PlaceBar(statusBar, showStatusBar && !wallView);
    MoveWindow(mapWindow, 0, toolbarHeight, client.right,
               client.bottom - toolbarHeight - statusHeight, true);
}

void LayoutStatusBar(HWND window, int width, int height) {
    (void)window;
    SendMessage(statusBar, WM_SIZE, SIZE_RESTORED, MAKELPARAM(width, height));
    int edges[3];
    // The countdown shows "inactive" or up to five digits (TIMER is 16 bits).
    ComputeStatusPanes(width, MeasureWidest({"NORM"}), MeasureWidest({"inactive", "00000"}), edges);
    SendMessage(statusBar, SB_SETPARTS, 3, reinterpret_cast<LPARAM>(edges));
    UpdateWindow(statusBar);
    SendMessage(toolBar, WM_SIZE, SIZE_RESTORED, MAKELPARAM(width, height));
}

/*** texts ***/

void ShowCountdown() {
    char text[16];
    if (options.noAutomaticChecks == 1)
        std::snprintf(text, sizeof text, "inactive");
    else
        std::snprintf(text, sizeof text, "%03u", static_cast<unsigned>(pollState.countdown));
    SendMessage(statusBar, SB_SETTEXT, PANE_COUNTDOWN, reinterpret_cast<LPARAM>(text));
}

int ShowStatusText(const char* text) {
    SendMessage(statusBar, SB_SETTEXT, PANE_MESSAGE,
                reinterpret_cast<LPARAM>(text != nullptr ? text : defaultStatusText));
    const char* state = pollState.inProgress ? "POLL" : editMode != 0 ? "EDIT" : "IDLE";
    SendMessage(statusBar, SB_SETTEXT, PANE_STATE, reinterpret_cast<LPARAM>(state));
    ShowCountdown();
    return 0;
}

int SetStatusText(const char* text) {
    ShowStatusText(text);
    UpdateWindow(statusBar);
    return 0;
}

/*** showing and hiding ***/

void ShowBar(HWND window, Bar which, BarShowing showing) {
    unsigned& shown = which == BAR_TOOLBAR ? showToolbar : showStatusBar;
    shown = showing == BAR_TOGGLE ? !shown : static_cast<unsigned>(showing);
    CheckMenuItem(GetMenu(window), which == BAR_TOOLBAR ? CMD_SHOW_TOOLBAR : CMD_SHOW_STATUS_BAR,
                  shown ? MF_CHECKED : MF_UNCHECKED);
    RECT outer;
    GetWindowRect(window, &outer);
    LayoutMainWindow(window, SIZE_RESTORED);
    InvalidateRect(mapWindow, nullptr, true);
    LayoutStatusBar(window, outer.right - outer.left, outer.bottom - outer.top);
    UpdateWindow(window);
}

LRESULT OnToolTipRequest(LPARAM notification) {
    auto* tip = reinterpret_cast<TOOLTIPTEXT*>(notification);
    if (tip->hdr.code != TTN_NEEDTEXT)
        return 0;
    const char* text = ToolTipText(static_cast<unsigned>(tip->hdr.idFrom));
    if (text != nullptr)
        tip->lpszText = text;
    return 0;
}
