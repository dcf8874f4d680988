// Dialog templates of the Lookup, Finger, Whois and Connect tools, and the ids of their
// controls.
#pragma once

#include "platform/dialog.h"

extern const platform::DialogTemplate lookupDialogTemplate;  // "DLG_LOOKUP"
extern const platform::DialogTemplate fingerDialogTemplate;  // "DLG_FINGER"
extern const platform::DialogTemplate whoisDialogTemplate;   // "DLG_WHOIS"
extern const platform::DialogTemplate connectDialogTemplate; // "DLG_CONNECT"

constexpr int LOOKUP_HOST = 1000;
constexpr int LOOKUP_RESULTS = 1018;
constexpr int FINGER_STRING = 1001;
constexpr int FINGER_RESULTS = 1016;
constexpr int WHOIS_SERVER = 1000;
constexpr int WHOIS_SEARCH = 1001;
constexpr int WHOIS_RESULTS = 1016;
constexpr int CONNECT_HOST = 1000;
constexpr int CONNECT_PORT = 1001;
