// The main window and the map window procedures and the command table they share.
#pragma once

#include "monitor/mapwnd.h"
#include "platform/types.h"
#include "platform/window.h"

extern int clientWidth; // the main window's client size at the last resize
extern int clientHeight;
extern platform::HMENU runMenu;  // "FLMMENU0", shown while monitoring
extern platform::HMENU editMenu; // "FLMMENU1", shown while editing

platform::LRESULT MainWndProc(platform::HWND window, platform::UINT message,
                              platform::WPARAM wParam, platform::LPARAM lParam);
platform::LRESULT MapWndProc(platform::HWND window, platform::UINT message, platform::WPARAM wParam,
                             platform::LPARAM lParam);

// The handler of one command, given the window that received it.
void RunCommand(platform::HWND window, unsigned command);
