// The map window between the toolbar and the status bar, the hidden "check", "abort" and
// "quiet" buttons, the main window's handle and cursors, and the host detail window shown
// while the mouse is held on a host.
#pragma once

#include "model/hosts.h"
#include "platform/types.h"
#include "platform/window.h"

constexpr unsigned MAP_WINDOW_ID = 1;
constexpr unsigned DETAIL_LINE_LENGTH = 8 + ADDRESS_TEXT_LENGTH; // "Name: " and the longest address
constexpr unsigned DETAIL_LINES = 8;

extern const char* const DETAIL_CLASS;  // "WFELLMAP1"
extern const char* const MONITOR_CLASS; // "TARNMAPMONTORWND"

extern platform::HWND mainWindow;
extern platform::HWND mapWindow;   // the map area
extern platform::HWND checkButton; // hidden; disabled while a cycle runs
extern int bandTop;                // top of the foot frame, in the map window
extern platform::HCURSOR arrowCursor;
extern platform::HCURSOR busyCursor;
extern int cursorState; // 0 normal, 1 busy (while a cycle runs)

// Creates the map window and the three hidden buttons under `window`, the main window.
void CreateMonitorWindow(platform::HWND window);

// Opens the detail window of host `index` near it; 0 when `index` is -1.
platform::HWND ShowHostDetail(platform::HWND parent, int index);

platform::LRESULT HostDetailProc(platform::HWND window, platform::UINT message,
                                 platform::WPARAM wParam, platform::LPARAM lParam);

// The lines the detail window shows for `host`; returns how many.
int ComposeHostDetail(const HostRecord& host, char lines[DETAIL_LINES][DETAIL_LINE_LENGTH]);
