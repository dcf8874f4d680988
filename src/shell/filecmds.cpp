// New, Load, Save and Save As. Each stops the poll timer first and, unless a cycle is
// running, starts it again at the end; nothing is ever saved without being asked.
#include "shell/filecmds.h"

#include "mapui/statusbar.h"
#include "model/hosts.h"
#include "model/mapdb.h"
#include "model/settings.h"
#include "monitor/mapwnd.h"
#include "monitor/poll.h"
#include "platform/dialog.h"
#include "platform/window.h"
#include "shell/mainwnd.h"

#include <cstdio>
#include <cstring>

using namespace platform;

static const char* const UNTITLED_MAP = "untitled.db";
static const char mapFilters[] = "Tarnmap Files (*.db)\0*.db\0all files (*.*)\0*.*\0";

int ChooseMapFile(HWND owner, int mode) {
    OPENFILENAME request{};
    request.hwndOwner = owner;
    request.lpstrFilter = mapFilters;
    request.nFilterIndex = 1;
    request.lpstrFile = mapPath;
    request.nMaxFile = sizeof mapPath;
    if (mode == 1) {
        request.Flags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
        return GetOpenFileName(&request) ? 1 : 0;
    }
    request.Flags = OFN_OVERWRITEPROMPT;
    return GetSaveFileName(&request) ? 1 : 0;
}

// The end of every file command: the map repainted, the countdown going again.
static void FinishFileCommand() {
    InvalidateRect(mapWindow, nullptr, true);
    if (!pollInProgress)
        StartPollTimer();
}

// A failed save leaves the old file as it was and says so.
static void WriteMapOrComplain(HWND window) {
    if (WriteMapDatabase(mapPath) != 0) {
        SetMapTitle(0, nullptr);
        return;
    }
    char text[MAP_PATH_LENGTH + 64];
    std::snprintf(text, sizeof text, "Could not save the map to %s.", mapPath);
    SetStatusText("Database write error.");
    MessageBox(window, text, "Save error", MB_OK | MB_ICONSTOP);
}

void NewMapCommand(HWND window) {
    (void)window;
    StopPollTimer();
    lineCount = 0;
    hostCount = 0;
    CopyField(mapPath, sizeof mapPath, UNTITLED_MAP);
    SelectMapFiles(mapPath);
    SetMapTitle(0, nullptr);
    FinishFileCommand();
}

void LoadMapCommand(HWND window) {
    StopPollTimer();
    if (ChooseMapFile(window, 1) != 0)
        ReadMapDatabase(window, mapPath);
    FinishFileCommand();
}

void SaveMapAsCommand(HWND window) {
    StopPollTimer();
    if (ChooseMapFile(window, 2) != 0)
        WriteMapOrComplain(window);
    FinishFileCommand();
}

void SaveMapCommand(HWND window) {
    if (std::strcmp(mapPath, UNTITLED_MAP) == 0) {
        SaveMapAsCommand(window);
        return;
    }
    StopPollTimer();
    WriteMapOrComplain(window);
    FinishFileCommand();
}

/*** the reader's reports ***/

static void ShowMapStatus(const char* text) {
    SetStatusText(text);
}

static void ShowVersionError(HWND owner, const char* text, const char* caption) {
    MessageBox(owner, text, caption, MB_OK | MB_ICONSTOP);
}

static void ShowMapTitle(const char* title) {
    SetWindowText(mainWindow, title);
}

void ConnectMapReports() {
    mapDatabaseReports.statusText = ShowMapStatus;
    mapDatabaseReports.versionError = ShowVersionError;
    mapDatabaseReports.windowTitle = ShowMapTitle;
}
