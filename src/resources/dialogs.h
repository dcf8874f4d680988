// Dialog templates held as data, registered by name at start-up.
#pragma once

#include "platform/dialog.h"

extern const platform::DialogTemplate aboutDialogTemplate; // "DLG_ABOUT"

// The control ids the About box fills.
enum AboutControl : int {
    ABOUT_PLATFORM = 919,
    ABOUT_NOTICE = 920,
    ABOUT_VERSION = 921,
    ABOUT_MEMORY = 914,
    ABOUT_COPROCESSOR = 916,
    ABOUT_DISK = 918,
    ABOUT_LOGO = 951,
};

extern const char* const LOGO_CLASS; // the window class of the About box's logo
