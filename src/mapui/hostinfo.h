// The Host Information dialog: the record at currentHost (name, address, info lines,
// kind, protocol, monitoring) and the host's alarm section in the map's settings file.
#pragma once

#include "platform/window.h"

constexpr unsigned CONNECT_LENGTH = 149;  // CONNECT, the host's own connect command
constexpr unsigned BEEP_FIELD_LENGTH = 9; // Count, Code and Priority as typed

// Opens the dialog on hostTable[currentHost]; the caller repaints the host afterwards.
// The poll timer is stopped while it is open. Returns 1 when accepted, 0 when cancelled
// (or when currentHost names no host).
int ShowHostInformation(platform::HWND owner);

// The dialog procedure of "INPUTBOX".
platform::INT_PTR Input(platform::HWND dialog, platform::UINT message, platform::WPARAM wParam,
                        platform::LPARAM lParam);
