// The status bar along the foot of the main window: a message pane, the countdown pane
// and the state word; and the toolbar's tips.
#pragma once

#include "platform/types.h"

constexpr unsigned STATUS_BAR_ID = 1150;
constexpr unsigned TOOLBAR_ID = 1160;

// The message pane's text when there is nothing to say.
extern const char* const defaultStatusText;

extern platform::HWND statusBar;
extern platform::HWND toolBar;
extern unsigned showToolbar;   // 1 while the toolbar is shown; on at every start
extern unsigned showStatusBar; // 1 while the status bar is shown; on at every start
extern unsigned wallView;      // 1 while the map fills the screen alone, bars hidden

// Creates the status bar with its three panes and the toolbar; returns the status bar.
platform::HWND CreateBars(platform::HWND window);

// Places the bars and the map window for the main window's new size.
void LayoutMainWindow(platform::HWND window, platform::WPARAM sizeType);

// Places the status bar and its panes for a main window of this size.
void LayoutStatusBar(platform::HWND window, int width, int height);

// The status bar's panes, left to right.
enum StatusPane : unsigned { PANE_MESSAGE = 0, PANE_COUNTDOWN = 1, PANE_STATE = 2 };

enum Bar { BAR_TOOLBAR = 1, BAR_STATUS = 2 };
enum BarShowing { BAR_HIDE = 0, BAR_SHOW = 1, BAR_TOGGLE = 2 };
// Shows, hides or toggles the toolbar or the status bar.
void ShowBar(platform::HWND window, Bar which, BarShowing showing);

// Writes the countdown pane: "%03u", or "inactive" when automatic checks are off.
void ShowCountdown();

// The main window's answer to the toolbar's tip request (WM_NOTIFY).
platform::LRESULT OnToolTipRequest(platform::LPARAM notification);

// Puts `text` (null: the default text) into the message pane, refreshes the state word and
// the countdown pane, and paints the status bar at once: the text shows even when work
// follows that does not dispatch.
int SetStatusText(const char* text);

// As SetStatusText, shown when the status bar next paints (within a frame): for texts that
// change many times a second, as a cycle's progress does.
int ShowStatusText(const char* text);

// The tip text of a toolbar command, or null.
const char* ToolTipText(unsigned command);
