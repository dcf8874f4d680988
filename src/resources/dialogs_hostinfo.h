// The Host Information dialog's template ("INPUTBOX") and the ids of its controls.
#pragma once

#include "platform/dialog.h"

extern const platform::DialogTemplate hostInfoDialogTemplate; // "INPUTBOX"

enum HostInfoControl : int {
    HOSTINFO_ACCEPT = 100,
    HOSTINFO_CANCEL = 101,
    HOSTINFO_TYPE_GROUP = 102,
    HOSTINFO_NAME = 601,
    HOSTINFO_ADDRESS = 602,
    HOSTINFO_INFO1 = 603,
    HOSTINFO_INFO2 = 604,
    HOSTINFO_CONNECT = 608,
    HOSTINFO_EXTERNAL = 1001,
    HOSTINFO_MONITOR = 1012,
    HOSTINFO_HELP = 1027,
    HOSTINFO_KIND = 1029,
    HOSTINFO_LOG = 1053,
    HOSTINFO_EDIT_POPUP = 1058,
    HOSTINFO_SOUND_NONE = 1059, // + SOUND: 1060 low, 1061 middle, 1062 high
    HOSTINFO_SOUND_LOW = 1060,
    HOSTINFO_SOUND_MIDDLE = 1061,
    HOSTINFO_SOUND_HIGH = 1062,
    HOSTINFO_PROTOCOL_NONE = 1068,  // protocol 0
    HOSTINFO_PROTOCOL_TCPIP = 1069, // 1068 + protocol for 1 to 3
    HOSTINFO_PROTOCOL_NETBEUI = 1070,
    HOSTINFO_PROTOCOL_SNMP = 1071,
    HOSTINFO_BEEP_CODE = 1072,
    HOSTINFO_BEEP_COUNT = 1073,
    HOSTINFO_BEEP_NUMBER = 1074,
    HOSTINFO_BEEPER = 1075,
    HOSTINFO_BEEP_PRIORITY = 1076,
    HOSTINFO_BEEP_EACH = 1077,
    HOSTINFO_PARENT = 1078, // "Behind:", the host this one sits behind
};

// Parents from Lines: the parents the drawn lines suggest toward a root, for the user to
// accept or edit.
extern const platform::DialogTemplate parentLinesDialogTemplate; // "DLG_PARENTLINES"

enum ParentLinesControl : int {
    PARENTLINES_ROOT = 1101,    // the host the lines lead to
    PARENTLINES_PROPOSE = 1102, // proposes again toward the root chosen
    PARENTLINES_LIST = 1103,    // "host behind parent", one proposal a line
    PARENTLINES_BEHIND = 1104,  // another parent for the proposal selected
    PARENTLINES_SET = 1105,
    PARENTLINES_DROP = 1106, // leaves the selected host as it is
};
