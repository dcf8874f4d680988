// The preference dialogs: Options (the [OPTS] values, saved to the program's or the
// map's settings file), Tool Options (the ping and trace settings, in memory only), Colors
// (colorTable, saved to [COLORS]) and Beeper Setup (the pager's modem settings).
#pragma once

#include "platform/types.h"

constexpr unsigned MIN_POLL_INTERVAL = 5;      // TIMER, seconds
constexpr unsigned TRACE_MAX_HOPS_LIMIT = 255; // a hop is one byte of TTL

// The slot the Colors dialog selected last; it opens with it again.
extern unsigned colorDialogSlot;

// Each returns the dialog's result: Options 1 when the settings were saved, 0 for "Exit";
// Tool Options, Colors and Beeper Setup 1 for OK, 0 otherwise.
int ShowOptionsDialog(platform::HWND owner);
int ShowToolOptions(platform::HWND owner);
int ShowColorsDialog(platform::HWND owner);
int ShowBeeperSetup(platform::HWND owner);

// A number of seconds as a time-out in milliseconds, kept within 1000..60000.
unsigned WaitTimeoutFromSeconds(unsigned seconds);

// True when `dialString` holds a "%s" and, after it, a second one.
bool IsValidDialString(const char* dialString);

// The main menu's "Preferences..." and "Colors..." (with the poll timer held meanwhile).
void PreferencesCommand(platform::HWND window);
void ColorsCommand(platform::HWND window);
