// The dialog template of the ping and traceroute tools, which share it, and the ids of
// its controls.
#pragma once

#include "platform/dialog.h"

extern const platform::DialogTemplate traceRouteDialogTemplate; // "DLG_TRACEROUTE"

constexpr int TOOL_START_BUTTON = 1;   // "&Ping" / "&Trace Route"
constexpr int TOOL_EXIT_BUTTON = 2;    // "E&xit"
constexpr int TOOL_OPTIONS_BUTTON = 3; // "&Options"
constexpr int TOOL_HOST_EDIT = 1001;
constexpr int TOOL_RESULTS_EDIT = 1016;
