// The Host Information dialog's template: every control at its place in dialog units.
// The radio groups start at the button with WS_GROUP and end at the next control with it.
// The radio and check boxes of the lower half are wide enough for their texts beside the
// toolkit's larger indicators; the Beeper group moves right to make room.
#include "resources/dialogs_hostinfo.h"

using namespace platform;

static const DialogItem hostInfoItems[] = {
    RightText("Display Name:", -1, 3, 7, 55, 8),
    EditText(HOSTINFO_NAME, 60, 6, 86, 12, ES_AUTOHSCROLL),
    RightText("Address/Name:", -1, 3, 21, 55, 8),
    EditText(HOSTINFO_ADDRESS, 60, 20, 86, 12, ES_AUTOHSCROLL),
    RightText("Info line 1:", -1, 3, 35, 55, 8),
    EditText(HOSTINFO_INFO1, 60, 34, 86, 12, ES_AUTOHSCROLL),
    RightText("Info line 2:", -1, 3, 49, 55, 8),
    EditText(HOSTINFO_INFO2, 60, 48, 86, 12, ES_AUTOHSCROLL),
    RightText("Connect prgm:", -1, 3, 63, 55, 8),
    EditText(HOSTINFO_CONNECT, 60, 62, 86, 12, ES_AUTOHSCROLL),
    RightText("System Type:", -1, 3, 77, 55, 8),
    ComboBox(HOSTINFO_KIND, 60, 76, 86, 64, CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL),
    GroupBox("Type", HOSTINFO_TYPE_GROUP, 154, 4, 61, 63),
    AutoRadioButton("TCP/IP", HOSTINFO_PROTOCOL_TCPIP, 162, 16, 44, 10, WS_GROUP | WS_TABSTOP),
    AutoRadioButton("Netbeui", HOSTINFO_PROTOCOL_NETBEUI, 162, 28, 44, 10, WS_DISABLED),
    AutoRadioButton("SNMP", HOSTINFO_PROTOCOL_SNMP, 162, 40, 44, 10, WS_DISABLED),
    AutoRadioButton("None", HOSTINFO_PROTOCOL_NONE, 162, 52, 44, 10),
    AutoCheckBox("Monitor", HOSTINFO_MONITOR, 163, 72, 40, 10, WS_GROUP),
    PushButton("?", HOSTINFO_HELP, 201, 74, 14, 14),
    RightText("Behind:", -1, 3, 93, 55, 8),
    ComboBox(HOSTINFO_PARENT, 60, 91, 86, 80, CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP),
    PushButton("Edit Popup", HOSTINFO_EDIT_POPUP, 101, 105, 50, 14, WS_DISABLED),
    PushButton("Cancel", HOSTINFO_CANCEL, 155, 105, 28, 14),
    DefPushButton("Accept", HOSTINFO_ACCEPT, 187, 105, 28, 14),
    GroupBox("Down Actions", -1, 4, 124, 213, 99),
    AutoCheckBox("Log activity", HOSTINFO_LOG, 14, 136, 50, 10),
    GroupBox("Sound (WAV)", -1, 8, 152, 66, 66),
    AutoRadioButton("None", HOSTINFO_SOUND_NONE, 12, 164, 60, 10, WS_GROUP | WS_TABSTOP),
    AutoRadioButton("Low priority", HOSTINFO_SOUND_LOW, 12, 177, 60, 10),
    AutoRadioButton("Middle priority", HOSTINFO_SOUND_MIDDLE, 12, 190, 60, 10),
    AutoRadioButton("High priority", HOSTINFO_SOUND_HIGH, 12, 203, 60, 10),
    GroupBox("Beeper", -1, 78, 133, 137, 85, WS_GROUP),
    AutoCheckBox("Enable internal code", HOSTINFO_BEEPER, 83, 142, 80, 10),
    AutoCheckBox("Beep Each", HOSTINFO_BEEP_EACH, 165, 142, 47, 10),
    LeftText("External program:", -1, 83, 153, 31, 18),
    EditText(HOSTINFO_EXTERNAL, 115, 158, 95, 13, ES_AUTOHSCROLL),
    LeftText("Phone:", -1, 83, 177, 27, 8),
    EditText(HOSTINFO_BEEP_NUMBER, 115, 175, 95, 13, ES_AUTOHSCROLL),
    LeftText("Count", -1, 83, 191, 27, 8),
    EditText(HOSTINFO_BEEP_COUNT, 83, 202, 31, 13, ES_AUTOHSCROLL),
    LeftText("Code", -1, 131, 191, 27, 8),
    EditText(HOSTINFO_BEEP_CODE, 131, 202, 31, 13, ES_AUTOHSCROLL),
    LeftText("Priority", -1, 179, 191, 31, 8),
    EditText(HOSTINFO_BEEP_PRIORITY, 179, 202, 31, 13, ES_AUTOHSCROLL),
};

static const DialogItem parentLinesItems[] = {
    RightText("Root:", -1, 4, 8, 30, 8),
    ComboBox(PARENTLINES_ROOT, 38, 6, 90, 80, CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP),
    PushButton("&Propose", PARENTLINES_PROPOSE, 134, 5, 50, 14),
    ListBox(PARENTLINES_LIST, 4, 24, 180, 90, WS_VSCROLL),
    RightText("Behind:", -1, 4, 122, 30, 8),
    ComboBox(PARENTLINES_BEHIND, 38, 120, 90, 80, CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP),
    PushButton("&Set", PARENTLINES_SET, 134, 119, 24, 14),
    PushButton("&Drop", PARENTLINES_DROP, 160, 119, 24, 14),
    PushButton("Cancel", IDCANCEL, 102, 140, 40, 14),
    DefPushButton("Accept", IDOK, 144, 140, 40, 14),
};

const DialogTemplate parentLinesDialogTemplate{"DLG_PARENTLINES",
                                               "Parents from Lines",
                                               188,
                                               160,
                                               "MS Sans Serif",
                                               8,
                                               WS_CAPTION | WS_SYSMENU | DS_MODALFRAME,
                                               parentLinesItems};

const DialogTemplate hostInfoDialogTemplate{"INPUTBOX",
                                            "Host Information",
                                            221,
                                            227,
                                            "MS Sans Serif",
                                            8,
                                            WS_CAPTION | WS_SYSMENU | DS_MODALFRAME,
                                            hostInfoItems};
