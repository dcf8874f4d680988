// The dialog template of the ping and traceroute tools, which share it.
#pragma once

#include "platform/dialog.h"

extern const platform::DialogTemplate traceRouteDialogTemplate; // "DLG_TRACEROUTE"
