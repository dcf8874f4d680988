// The main window and the map window procedures and the command table they share.
#pragma once

#include "platform/types.h"

extern platform::HWND mainWindow;
extern int cursorState;   // 0 normal, 1 busy
extern int clientWidth;   // the main window's client size at the last resize
extern int clientHeight;

platform::LRESULT MainWndProc(platform::HWND window, platform::UINT message,
                              platform::WPARAM wParam, platform::LPARAM lParam);
platform::LRESULT MapWndProc(platform::HWND window, platform::UINT message,
                             platform::WPARAM wParam, platform::LPARAM lParam);

// The handler of one command, given the window that received it.
void RunCommand(platform::HWND window, unsigned command);

// Opens our help at a topic: below 101 the contents.
void ShowHelp(platform::HWND window, unsigned topic);
