// The status bar along the foot of the main window: a message pane, the countdown pane
// and the state word; and the toolbar's tips.
#pragma once

#include "platform/types.h"

constexpr unsigned STATUS_BAR_ID = 1150;
constexpr unsigned TOOLBAR_ID = 1160;

// The message pane's text when there is nothing to say.
extern const char* const defaultStatusText;

// Puts `text` (null: the default text) into the message pane, and refreshes the state
// word and the countdown pane.
int SetStatusText(const char* text);

// The right edges of the three panes for a main window `width` pixels wide, with the
// width of "NORM" in the status bar's font (0 when it could not be measured).
void ComputeStatusPanes(int width, int normWidth, int edges[3]);

// The tip text of a toolbar command, or null.
const char* ToolTipText(unsigned command);
