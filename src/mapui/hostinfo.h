// The Host Information dialog: a host's names, address, connect command, kind, type and
// down actions, edited in hostTable[currentHost] and the host's settings section.
#pragma once

#include "platform/types.h"

// Opens the dialog modally on hostTable[currentHost]; 1 when accepted, 0 when cancelled.
int ShowHostInformation(platform::HWND owner);
