// The main window and the map window procedures and the command table they share.
#pragma once

#include "platform/gdi.h"
#include "platform/types.h"
#include "platform/window.h"

extern platform::HWND mainWindow;
extern int cursorState; // 0 normal, 1 busy
extern int clientWidth; // the main window's client size at the last resize
extern int clientHeight;
extern platform::HBRUSH buttonFaceBrush; // answers the dialogs' colour requests
extern platform::HCURSOR arrowCursor;
extern platform::HCURSOR busyCursor;
extern platform::HMENU runMenu;  // "FLMMENU0", shown while monitoring
extern platform::HMENU editMenu; // "FLMMENU1", shown while editing

platform::LRESULT MainWndProc(platform::HWND window, platform::UINT message,
                              platform::WPARAM wParam, platform::LPARAM lParam);
platform::LRESULT MapWndProc(platform::HWND window, platform::UINT message, platform::WPARAM wParam,
                             platform::LPARAM lParam);

// The handler of one command, given the window that received it.
void RunCommand(platform::HWND window, unsigned command);

// The common answer of every dialog procedure to the colour requests of the dialog, its
// buttons and static texts: the button-face colour. 0 for any other message.
platform::INT_PTR AnswerDialogColor(platform::UINT message, platform::WPARAM wParam);

// Opens our help at a topic: below 101 the contents.
void ShowHelp(platform::HWND window, unsigned topic);
