// The host context menu: built once, greyed for the cell it opens on, its eight commands;
// and the Tools menu launchers. The tools are modeless windows: monitoring goes on while
// they are open; the modal dialogs opened here stop the poll countdown.
#include "mapui/ctxmenu.h"

#include "mapui/editor.h"
#include "mapui/hostinfo.h"
#include "mapui/statusbar.h"
#include "model/hosts.h"
#include "model/mapdb.h"
#include "model/settings.h"
#include "monitor/poll.h"
#include "platform/menu.h"
#include "platform/window.h"
#include "resources/commands.h"

#include "tools/connect.h"
#include "tools/fingerwhois.h"
#include "tools/lookup.h"
#include "tools/ping.h"
#include "tools/trace.h"

using namespace platform;

/*** globals ***/

HMENU hostContextMenu = 0;
int menuCol = 0;
int menuRow = 0;
int menuHost = -1;
int menuLine = -1;
void (*connectHostAction)(HWND window) = nullptr;

/*** the menu ***/

void BuildHostContextMenu() {
    if (hostContextMenu != 0)
        DestroyMenu(hostContextMenu);
    hostContextMenu = CreatePopupMenu();
    HMENU newItems = CreatePopupMenu();
    AppendMenu(newItems, MF_STRING, CMD_CONTEXT_NEW_HOST, "Host");
    AppendMenu(newItems, MF_STRING, CMD_CONTEXT_NEW_LINE, "Line");
    HMENU deleteItems = CreatePopupMenu();
    AppendMenu(deleteItems, MF_STRING, CMD_CONTEXT_DELETE_HOST, "Host");
    AppendMenu(deleteItems, MF_STRING, CMD_CONTEXT_DELETE_LINE, "Line");
    AppendMenu(hostContextMenu, MF_POPUP, newItems, "New");
    AppendMenu(hostContextMenu, MF_POPUP, deleteItems, "Delete");
    AppendMenu(hostContextMenu, MF_SEPARATOR, 0, nullptr);
    AppendMenu(hostContextMenu, MF_STRING, CMD_CONTEXT_CONNECT, "Connect");
    AppendMenu(hostContextMenu, MF_STRING, CMD_CONTEXT_PING, "Ping");
    AppendMenu(hostContextMenu, MF_STRING, CMD_CONTEXT_TRACEROUTE, "Traceroute");
    AppendMenu(hostContextMenu, MF_SEPARATOR, 0, nullptr);
    AppendMenu(hostContextMenu, MF_STRING, CMD_CONTEXT_PROPERTIES, "Properties...");
}

void DestroyHostContextMenu() {
    if (hostContextMenu != 0)
        DestroyMenu(hostContextMenu);
    hostContextMenu = 0;
}

static void EnableItem(UINT command, bool enabled) {
    EnableMenuItem(hostContextMenu, command, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
}

void EnableHostContextItems() {
    bool onHost = menuHost >= 0;
    bool echo = options.useRawIcmp != 0 || options.useIcmpLibrary != 0;
    EnableItem(CMD_CONTEXT_NEW_HOST, !onHost);
    EnableItem(CMD_CONTEXT_NEW_LINE, true);
    EnableItem(CMD_CONTEXT_DELETE_HOST, onHost);
    EnableItem(CMD_CONTEXT_DELETE_LINE, menuLine >= 0);
    EnableItem(CMD_CONTEXT_CONNECT, onHost);
    EnableItem(CMD_CONTEXT_PING, onHost && echo);
    EnableItem(CMD_CONTEXT_TRACEROUTE, onHost && echo);
    EnableItem(CMD_CONTEXT_PROPERTIES, onHost);
}

void OpenHostContextMenu(HWND mapWindow, int col, int row) {
    POINT corner{col * gridCellWidth, row * gridCellHeight};
    ClientToScreen(mapWindow, &corner);
    menuCol = col;
    menuRow = row;
    menuHost = HitTestHost(col, row);
    menuLine = HitTestLineEnd(col, row);
    if (hostContextMenu == 0)
        BuildHostContextMenu();
    EnableHostContextItems();
    TrackPopupMenu(hostContextMenu, TPM_LEFTALIGN | TPM_RIGHTBUTTON, corner.x, corner.y, 0,
                   mapWindow, nullptr);
}

/*** its commands ***/

static bool IsHost(int index) {
    return index >= 0 && index < hostCount;
}

static void RestartPollTimer() {
    if (!pollState.inProgress)
        StartPollTimer();
}

static void NewHostHere(HWND window) {
    StopPollTimer();
    int modifiedBefore = mapModified;
    int index = AppendHost(menuCol, menuRow);
    if (index < 0) {
        SetStatusText(hostTableFullText);
    } else {
        currentHost = index;
        if (ShowHostInformation(window) == 1) {
            RepaintChangedHost(window, hostTable[index]);
        } else {
            DeleteHost(index); // nothing was added after all
            mapModified = modifiedBefore;
            RefreshMapTitle();
        }
        currentHost = -1;
    }
    RestartPollTimer();
    menuLine = -1;
}

static void NewLineHere() {
    int index = AppendLine(menuCol, menuRow);
    if (index < 0) {
        SetStatusText(lineTableFullText);
        menuLine = -1;
        return;
    }
    SetStatusText("Move mouse to end and right click.");
    currentLine = index;
    menuLine = index;
    editMode = EDIT_ON;
}

static void DeleteHostHere(HWND window) {
    if (!IsHost(menuHost)) {
        menuLine = -1;
        return;
    }
    StopPollTimer();
    InvalidateEditedHost(window, hostTable[menuHost]);
    DeleteHost(menuHost);
    menuHost = -1;
    RestartPollTimer();
    menuLine = -1;
}

static void DeleteLineHere(HWND window) {
    if (menuLine < 0 || menuLine >= lineCount)
        return;
    InvalidateLine(window, lineTable[menuLine]);
    DeleteLine(menuLine);
    menuLine = -1;
}

static void PingHere(HWND window, bool trace) {
    if (!IsHost(menuHost))
        return;
    const char* address = hostTable[menuHost].resolvedAddr;
    if (trace)
        ShowTraceTool(window, address);
    else
        ShowPingTool(window, address);
}

static void HostPropertiesHere(HWND window) {
    StopPollTimer();
    if (IsHost(menuHost)) {
        currentHost = menuHost;
        ShowHostInformation(window);
        if (IsHost(currentHost))
            RepaintChangedHost(window, hostTable[currentHost]);
        currentHost = -1;
    }
    RestartPollTimer();
}

void RunHostContextCommand(HWND window, unsigned command) {
    switch (command) {
    case CMD_CONTEXT_NEW_HOST:
        NewHostHere(window);
        break;
    case CMD_CONTEXT_NEW_LINE:
        NewLineHere();
        break;
    case CMD_CONTEXT_DELETE_HOST:
        DeleteHostHere(window);
        break;
    case CMD_CONTEXT_DELETE_LINE:
        DeleteLineHere(window);
        break;
    case CMD_CONTEXT_CONNECT:
        if (connectHostAction != nullptr)
            connectHostAction(window);
        break;
    case CMD_CONTEXT_PING:
        PingHere(window, false);
        break;
    case CMD_CONTEXT_TRACEROUTE:
        PingHere(window, true);
        break;
    case CMD_CONTEXT_PROPERTIES:
        HostPropertiesHere(window);
        break;
    default:
        break;
    }
}

/*** the Tools menu ***/

void LaunchTool(HWND window, unsigned command) {
    switch (command) {
    case CMD_TELNET:
        LaunchTelnetTool(window);
        break;
    case CMD_FTP:
        LaunchFtpTool(window);
        break;
    case CMD_LOOKUP:
        ShowLookupTool(window);
        break;
    case CMD_PING:
        ShowPingTool(window, nullptr);
        break;
    case CMD_TRACEROUTE:
        ShowTraceTool(window, nullptr);
        break;
    case CMD_WHOIS:
        ShowWhoisTool(window);
        break;
    case CMD_FINGER:
        ShowFingerTool(window);
        break;
    default:
        break;
    }
}
