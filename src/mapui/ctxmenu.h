// The host context menu of the map while monitoring (new, delete, connect, ping, trace,
// properties) with the cell it was opened on, and the Tools menu launchers of the network
// tools.
#pragma once

#include "platform/window.h"

/*** globals ***/

extern platform::HMENU hostContextMenu; // built once with the main window
extern int menuCol;                     // the cell the menu was opened on
extern int menuRow;
extern int menuHost; // the host there (or double-clicked), -1 none
// The line end there, -1 none; also the line being added from the menu until its free
// end is dropped.
extern int menuLine;

// The Connect action on menuHost (the host's connect program, or the map it links to),
// run by the menu's "Connect" and by a double-click on a host while monitoring. The map
// links sit above this folder: the shell connects it at start. Unset: nothing happens.
extern void (*connectHostAction)(platform::HWND window);

// Builds the menu (a second call replaces the first one).
void BuildHostContextMenu();
// Frees it with the main window.
void DestroyHostContextMenu();

// Opens the menu at cell (col, row) of the map window; the chosen command arrives there.
void OpenHostContextMenu(platform::HWND mapWindow, int col, int row);

// Sets the greyed state of each item for menuHost and menuLine.
void EnableHostContextItems();

// The menu's commands 4311 to 4360, with the window that received them.
void RunHostContextCommand(platform::HWND window, unsigned command);

// The Tools menu commands 2011 to 2017: each opens its tool's window, or brings the open
// one forward; monitoring goes on meanwhile.
void LaunchTool(platform::HWND window, unsigned command);
