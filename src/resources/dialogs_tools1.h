// Dialog templates of the Lookup, Finger, Whois and Connect tools.
#pragma once

#include "platform/dialog.h"

extern const platform::DialogTemplate lookupDialogTemplate;  // "DLG_LOOKUP"
extern const platform::DialogTemplate fingerDialogTemplate;  // "DLG_FINGER"
extern const platform::DialogTemplate whoisDialogTemplate;   // "DLG_WHOIS"
extern const platform::DialogTemplate connectDialogTemplate; // "DLG_CONNECT"
