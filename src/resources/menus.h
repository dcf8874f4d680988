// The two menu bars: "FLMMENU0" in run mode, "FLMMENU1" in edit mode.
#pragma once

#include "platform/menu.h"

extern const platform::MenuTemplate runMenuTemplate;  // "FLMMENU0"
extern const platform::MenuTemplate editMenuTemplate; // "FLMMENU1"
