// The editor's state machine: mouse messages of the map window turned into cells, then
// into drags, additions and deletions on the host and line tables, with the status-bar
// prompt of each step. Owns editMode, currentLine and the drag position.
#include "mapui/editor.h"

#include "mapui/ctxmenu.h"
#include "mapui/hostinfo.h"
#include "mapui/statusbar.h"
#include "model/hosts.h"
#include "monitor/mapwnd.h"
#include "monitor/poll.h"
#include "platform/window.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

using namespace platform;

/*** globals ***/

int editMode = EDIT_OFF;
int currentLine = -1;
int dragCol = 0;
int dragRow = 0;

const char* const hostTableFullText = " The map is full: it holds no more than 200 hosts.";
const char* const lineTableFullText = " The map is full: it holds no more than 500 lines.";

static_assert(MAX_HOSTS == 200 && MAX_LINES == 500, "the table-full texts name the limits");

/*** hit tests ***/

static bool IsHost(int index) {
    return index >= 0 && index < hostCount;
}

static bool IsLine(int index) {
    return index >= 0 && index < lineCount;
}

int HitTestHost(int col, int row) {
    for (int i = 0; i < hostCount; ++i)
        if (hostTable[i].col == col && hostTable[i].row == row)
            return i;
    if (gridCellWidth <= 0 || gridCellHeight <= 0)
        return -1;
    for (int i = 0; i < hostCount; ++i) {
        const HostRecord& host = hostTable[i];
        // Sums in 64 bits: a host may sit at the last column or row an int holds.
        long long lastCol = static_cast<long long>(host.col) + host.drawWidth / gridCellWidth;
        long long lastRow = static_cast<long long>(host.row) + host.drawHeight / gridCellHeight;
        if (host.col <= col && col <= lastCol && host.row <= row && row <= lastRow)
            return i;
    }
    return -1;
}

int HitTestLineEnd(int col, int row) {
    for (int i = 0; i < lineCount; ++i) {
        const LineRecord& line = lineTable[i];
        if ((line.x1 == col && line.y1 == row) || (line.x2 == col && line.y2 == row))
            return i;
    }
    return -1;
}

bool CellFromPosition(LPARAM position, int* col, int* row) {
    if (gridCellWidth <= 0 || gridCellHeight <= 0)
        return false;
    unsigned x = LOWORD(static_cast<std::uintptr_t>(position));
    unsigned y = HIWORD(static_cast<std::uintptr_t>(position));
    // The strip the cells leave over right of and below the grid belongs to its last column
    // and row: a host put there would vanish from the map once the window grows.
    *col = std::min(static_cast<int>(x / static_cast<unsigned>(gridCellWidth)), GRID_COLUMNS - 1);
    *row = std::min(static_cast<int>(y / static_cast<unsigned>(gridCellHeight)), GRID_ROWS - 1);
    return true;
}

/*** dragging hosts ***/

void BeginHostDrag(HWND window, int col, int row) {
    (void)window;
    if (currentHost >= 0)
        return;
    currentHost = HitTestHost(col, row);
    if (currentHost < 0) {
        SetStatusText("Press LEFT button on top left of host and drag.");
        return;
    }
    const HostRecord& host = hostTable[currentHost];
    dragCol = host.col;
    dragRow = host.row;
    char text[64];
    std::snprintf(text, sizeof text, "Drag %s to its new location.", host.name);
    SetStatusText(text);
}

// Moves the end of the line that lies at the drag position (the first end when both do).
static void MoveLineEnd(LineRecord& line, int col, int row) {
    if (line.x1 == dragCol && line.y1 == dragRow) {
        line.x1 = col;
        line.y1 = row;
    } else {
        line.x2 = col;
        line.y2 = row;
    }
}

void DragTo(HWND window, int col, int row) {
    if (col == dragCol && row == dragRow)
        return;
    if (IsHost(currentHost)) {
        HostRecord& host = hostTable[currentHost];
        InvalidateEditedHost(window, host);
        host.col = col;
        host.row = row;
        InvalidateEditedHost(window, host);
    } else if (IsLine(currentLine)) {
        LineRecord& line = lineTable[currentLine];
        InvalidateLine(window, line);
        MoveLineEnd(line, col, row);
        InvalidateLine(window, line);
    } else {
        return;
    }
    MarkMapModified();
    dragCol = col;
    dragRow = row;
}

void EndHostDrag(HWND window, int col, int row) {
    if (editMode == EDIT_DELETE_HOST) {
        SetCursor(arrowCursor);
        editMode = EDIT_ON;
        currentHost = HitTestHost(col, row);
        if (currentHost >= 0) {
            InvalidateEditedHost(window, hostTable[currentHost]);
            DeleteHost(currentHost);
        }
        currentHost = -1;
        return;
    }
    if (!IsHost(currentHost))
        return;
    int index = currentHost;
    InvalidateEditedHost(window, hostTable[index]);
    if (hostTable[index].col != col || hostTable[index].row != row)
        MarkMapModified();
    hostTable[index].col = col;
    hostTable[index].row = row;
    if (std::strcmp(hostTable[index].name, "newhost") == 0)
        EditHost(window, col, row);
    if (IsHost(index))
        InvalidateEditedHost(window, hostTable[index]);
    currentHost = -1;
}

void EditHost(HWND window, int col, int row) {
    if (!IsHost(currentHost))
        currentHost = HitTestHost(col, row);
    if (currentHost < 0)
        return;
    int index = currentHost;
    // A modal dialog: no poll cycle may start under it (a Shift drag edits while
    // monitoring).
    StopPollTimer();
    ShowHostInformation(window);
    if (!pollState.inProgress)
        StartPollTimer();
    if (IsHost(index))
        RepaintChangedHost(window, hostTable[index]);
    currentHost = -1;
}

/*** lines ***/

void BeginLineDrag(HWND window, int col, int row) {
    (void)window;
    if (currentLine >= 0)
        return;
    currentLine = HitTestLineEnd(col, row);
    if (currentLine < 0) {
        SetStatusText("Press RIGHT button on end of line and drag.");
        return;
    }
    const LineRecord& line = lineTable[currentLine];
    if (line.x1 == col && line.y1 == row) {
        dragCol = line.x1;
        dragRow = line.y1;
    } else {
        dragCol = line.x2;
        dragRow = line.y2;
    }
    SetStatusText("Drag end of line to new location.");
}

void EndLineAction(HWND window, int col, int row) {
    if (editMode == EDIT_ADD_LINE) {
        SetCursor(arrowCursor);
        editMode = EDIT_ON;
        int index = AppendLine(col, row);
        if (index < 0) {
            SetStatusText(lineTableFullText);
            return;
        }
        SetStatusText("Move mouse to end and right click.");
        // The drag position stays: whichever end DragTo picks, one end stays here.
        currentLine = index;
        return;
    }
    if (editMode == EDIT_DELETE_LINE) {
        SetCursor(arrowCursor);
        editMode = EDIT_ON;
        currentLine = HitTestLineEnd(col, row);
        if (currentLine >= 0) {
            InvalidateLine(window, lineTable[currentLine]);
            DeleteLine(currentLine);
        }
        currentLine = -1;
        return;
    }
    if (!IsLine(currentLine))
        return;
    LineRecord& line = lineTable[currentLine];
    InvalidateLine(window, line);
    LineRecord before = line;
    MoveLineEnd(line, col, row);
    if (std::memcmp(&before, &line, sizeof line) != 0)
        MarkMapModified();
    InvalidateLine(window, line);
    currentLine = -1;
    if (menuLine != -1) {
        // The line came from the context menu while monitoring: back to monitoring. A
        // cycle that ran meanwhile could not restart the countdown in edit state.
        menuLine = -1;
        editMode = EDIT_OFF;
        SetStatusText(nullptr);
        if (!pollState.inProgress)
            StartPollTimer();
    }
}

/*** the map window's mouse messages ***/

static bool ShiftHeld(WPARAM keys) {
    return (keys & MK_SHIFT) != 0;
}

LRESULT OnMapMouseMove(HWND window, WPARAM keys, LPARAM position) {
    int col, row;
    if (!CellFromPosition(position, &col, &row))
        return 0;
    if (editMode == EDIT_ON || ShiftHeld(keys))
        DragTo(window, col, row);
    return 0;
}

LRESULT OnMapLeftButtonDown(HWND window, WPARAM keys, LPARAM position) {
    int col, row;
    if (!CellFromPosition(position, &col, &row))
        return 0;
    if (editMode == EDIT_ON || ShiftHeld(keys))
        BeginHostDrag(window, col, row);
    else if (editMode == EDIT_OFF)
        ShowHostDetail(window, HitTestHost(col, row));
    return 0;
}

LRESULT OnMapLeftButtonUp(HWND window, WPARAM keys, LPARAM position) {
    int col, row;
    if (!CellFromPosition(position, &col, &row))
        return 0;
    if (editMode == EDIT_ON || editMode == EDIT_DELETE_HOST || ShiftHeld(keys)) {
        EndHostDrag(window, col, row);
        SetStatusText(nullptr);
    }
    return 0;
}

LRESULT OnMapLeftDoubleClick(HWND window, WPARAM keys, LPARAM position) {
    (void)keys;
    int col, row;
    if (!CellFromPosition(position, &col, &row))
        return 0;
    if (editMode == EDIT_OFF) {
        menuHost = HitTestHost(col, row);
        if (connectHostAction != nullptr)
            connectHostAction(window);
    } else {
        EditHost(window, col, row);
    }
    return 0;
}

LRESULT OnMapRightButtonDown(HWND window, WPARAM keys, LPARAM position) {
    int col, row;
    if (!CellFromPosition(position, &col, &row))
        return 0;
    if (editMode == EDIT_ON || ShiftHeld(keys))
        BeginLineDrag(window, col, row);
    else if (editMode == EDIT_OFF)
        OpenHostContextMenu(window, col, row);
    return 0;
}

LRESULT OnMapRightButtonUp(HWND window, WPARAM keys, LPARAM position) {
    int col, row;
    if (!CellFromPosition(position, &col, &row))
        return 0;
    SetStatusText(nullptr);
    if (editMode == EDIT_ON || editMode == EDIT_ADD_LINE || editMode == EDIT_DELETE_LINE ||
        ShiftHeld(keys))
        EndLineAction(window, col, row);
    return 0;
}

/*** edit menu commands ***/

void StartAddHost() {
    // A host added before that still waits for its place is the one placed: no second.
    if (!IsHost(currentHost)) {
        if (hostCount >= MAX_HOSTS) {
            SetStatusText(hostTableFullText);
            return;
        }
        // Row 35 lies below the grid: the host shows once the mouse moves.
        currentHost = AppendHost(10, GRID_ROWS);
        if (editMode == EDIT_OFF)
            StopPollTimer();
    }
    // A pending one-shot action would leave the new host stranded below the grid.
    editMode = EDIT_ON;
    SetStatusText("Left click on location for new host");
}

void StartAddLine() {
    if (lineCount >= MAX_LINES) {
        SetStatusText(lineTableFullText);
        return;
    }
    editMode = EDIT_ADD_LINE;
    SetStatusText("Right click once at start, move mouse to end and right click again.");
}

void StartDeleteHost() {
    editMode = EDIT_DELETE_HOST;
    SetStatusText("click on host to delete");
}

void StartDeleteLine() {
    editMode = EDIT_DELETE_LINE;
    SetStatusText("Right click on end of line to delete.");
}

void ReleaseEditorHolds() {
    if (IsHost(currentHost) && hostTable[currentHost].row >= GRID_ROWS)
        DeleteHost(currentHost);
    currentHost = -1;
    currentLine = -1;
    // A line from the context menu is the only hold that comes with monitoring.
    if (menuLine != -1 && editMode == EDIT_ON)
        editMode = EDIT_OFF;
    menuLine = -1;
}
