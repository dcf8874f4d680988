// The templates of the preference dialogs: Options, Tool Options, Colors (with its 24
// drawn colour buttons) and Beeper Setup.
#include "resources/dialogs_options.h"

using namespace platform;

static const DWORD DIALOG_STYLE = WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;

/*** Options ***/

static const DialogItem optionsItems[] = {
    LeftText("Seconds between checks: (5-30000) *", -1, 7, 8, 127, 11),
    EditText(OPTIONS_TIMER, 141, 7, 40, 12, ES_AUTOHSCROLL),
    AutoCheckBox("Disable automatic checks *", OPTIONS_NO_CHECKS, 7, 21, 113, 10),
    LeftText("Seconds to wait before time-out: (1-60) *", -1, 7, 35, 133, 11),
    EditText(OPTIONS_WAIT, 141, 34, 40, 12, ES_AUTOHSCROLL),
    LeftText("Telnet:", -1, 7, 53, 29, 7),
    EditText(OPTIONS_TELNET, 43, 50, 138, 12, ES_AUTOHSCROLL),
    LeftText("FTP:", -1, 7, 66, 29, 7),
    EditText(OPTIONS_FTP, 43, 65, 138, 12, ES_AUTOHSCROLL),
    AutoCheckBox("Enable WAV Playing *", OPTIONS_SOUND, 7, 81, 91, 10),
    AutoCheckBox("Notifications", OPTIONS_NOTIFY, 100, 81, 60, 10),
    AutoCheckBox("Fixed fonts in map *", OPTIONS_FIXED_MAP_FONT, 7, 93, 75, 10),
    AutoCheckBox("Fixed fonts in tools *", OPTIONS_FIXED_TOOL_FONT, 7, 105, 76, 10),
    AutoCheckBox("Use Icons *", OPTIONS_ICONS, 7, 117, 47, 11),
    AutoCheckBox("Label Icons *", OPTIONS_LABELS, 7, 130, 58, 10),
    AutoCheckBox("Raw socket  ICMP ping", OPTIONS_RAW_ICMP, 7, 142, 89, 10),
    AutoCheckBox("Microsoft ICMP ping", OPTIONS_ICMP_LIBRARY, 7, 154, 85, 10),
    AutoCheckBox("Show Timer in Title", OPTIONS_SHOW_TIMER, 7, 166, 74, 10),
    AutoCheckBox("Solid Background", OPTIONS_SOLID_BACKGROUND, 7, 178, 76, 10),
    AutoCheckBox("Fit map to window *", OPTIONS_FIT, 7, 190, 80, 10),
    LeftText("Checks at once: (0 all hosts)", -1, 7, 205, 120, 10),
    EditText(OPTIONS_PARALLEL, 141, 203, 40, 12, ES_AUTOHSCROLL | ES_NUMBER),
    LeftText("* marks items saved per map via Map Options button", -1, 9, 220, 171, 10),
    PushButton("?", OPTIONS_HELP, 165, 84, 16, 14),
    PushButton("Set Beeper...", OPTIONS_SET_BEEPER, 114, 101, 67, 14),
    PushButton("Set &Colors...", OPTIONS_SET_COLORS, 114, 118, 67, 14),
    DefPushButton("Save &Map Options*", OPTIONS_SAVE_MAP, 114, 135, 67, 14),
    PushButton("Save as &Default", OPTIONS_SAVE_DEFAULT, 114, 152, 67, 14),
    PushButton("E&xit", OPTIONS_EXIT, 114, 169, 67, 14),
};

const DialogTemplate optionsDialogTemplate{"DLG_OPTIONS",   "Options", 187,          233,
                                           "MS Sans Serif", 8,         DIALOG_STYLE, optionsItems};

/*** Tool Options ***/

static const DialogItem toolOptionsItems[] = {
    GroupBox("Ping", -1, 7, 4, 84, 62),
    LeftText("&Count:", -1, 13, 18, 40, 9),
    EditText(TOOLOPTIONS_COUNT, 55, 16, 30, 12, ES_AUTOHSCROLL),
    LeftText("&Data length:", -1, 13, 33, 40, 9),
    EditText(TOOLOPTIONS_DATA_LENGTH, 55, 31, 30, 12, ES_AUTOHSCROLL),
    LeftText("&Time out:", -1, 13, 48, 40, 9),
    EditText(TOOLOPTIONS_TIMEOUT, 55, 46, 30, 12, ES_AUTOHSCROLL),
    GroupBox("Trace", -1, 97, 4, 82, 47),
    LeftText("&Max hops:", -1, 103, 18, 38, 9),
    EditText(TOOLOPTIONS_MAX_HOPS, 143, 16, 30, 12, ES_AUTOHSCROLL),
    AutoCheckBox("Show &Names", TOOLOPTIONS_SHOW_NAMES, 103, 33, 70, 10),
    AutoCheckBox("&Verbose", TOOLOPTIONS_VERBOSE, 103, 56, 70, 10),
    DefPushButton("OK", IDOK, 75, 82, 50, 14),
    PushButton("Cancel", IDCANCEL, 129, 82, 50, 14),
};

const DialogTemplate toolOptionsDialogTemplate{
    "DLG_TOOLOPTIONS", "Tool Options",  186, 103, "MS Sans Serif", 8,
    DIALOG_STYLE,      toolOptionsItems};

/*** Colors ***/

// One drawn colour button: `index` is its palette index, (column, row) its place in the
// grid of the "Color" group.
static constexpr DialogItem ColorButton(int index, int column, int row) {
    return Control("", COLORS_FIRST_BUTTON + index, "BUTTON", BS_OWNERDRAW | WS_TABSTOP,
                   104 + column * 17, 54 + row * 16, 14, 12);
}

static const DialogItem colorsItems[] = {
    LeftText("Set &Color For:", -1, 7, 7, 80, 9),
    ListBox(COLORS_SLOTS, 7, 18, 80, 96, WS_VSCROLL),
    LeftText("* Takes affect after exit and restart.", -1, 7, 118, 124, 9),
    Control("", COLORS_SWATCH, "STATIC", SS_BLACKFRAME, 97, 18, 111, 18),
    GroupBox("Color", -1, 97, 40, 111, 76),
    ColorButton(0, 0, 0),
    ColorButton(4, 1, 0),
    ColorButton(8, 2, 0),
    ColorButton(12, 3, 0),
    ColorButton(20, 4, 0),
    ColorButton(22, 5, 0),
    ColorButton(1, 0, 1),
    ColorButton(5, 1, 1),
    ColorButton(9, 2, 1),
    ColorButton(13, 3, 1),
    ColorButton(16, 4, 1),
    ColorButton(18, 5, 1),
    ColorButton(2, 0, 2),
    ColorButton(6, 1, 2),
    ColorButton(10, 2, 2),
    ColorButton(14, 3, 2),
    ColorButton(17, 4, 2),
    ColorButton(19, 5, 2),
    ColorButton(3, 0, 3),
    ColorButton(7, 1, 3),
    ColorButton(11, 2, 3),
    ColorButton(15, 3, 3),
    ColorButton(21, 4, 3),
    ColorButton(23, 5, 3),
    DefPushButton("OK", IDOK, 158, 128, 50, 14),
};

const DialogTemplate colorsDialogTemplate{"DLG_COLORS",    "Colors", 215,          149,
                                          "MS Sans Serif", 8,        DIALOG_STYLE, colorsItems};

/*** Beeper Setup ***/

static const DialogItem beeperItems[] = {
    AutoCheckBox("Enable Beeper", BEEPER_ENABLE, 7, 7, 80, 10),
    LeftText("Default Beeper Number:", -1, 7, 22, 120, 9),
    EditText(BEEPER_NUMBER, 7, 32, 100, 12, ES_AUTOHSCROLL),
    LeftText("Dial String:  (normal: ATDT%s,,,,,,%s#)", -1, 7, 50, 186, 9, SS_NOPREFIX),
    EditText(BEEPER_DIAL_STRING, 7, 60, 186, 12, ES_AUTOHSCROLL),
    GroupBox("COM Port", -1, 7, 78, 54, 42),
    AutoRadioButton("COM1", BEEPER_COM1, 13, 90, 40, 10, WS_GROUP | WS_TABSTOP),
    AutoRadioButton("COM2", BEEPER_COM2, 13, 104, 40, 10),
    GroupBox("Baud Rate", -1, 67, 78, 76, 42, WS_GROUP),
    AutoRadioButton("2400", BEEPER_BAUD_2400, 73, 90, 32, 10, WS_GROUP | WS_TABSTOP),
    AutoRadioButton("9600", BEEPER_BAUD_9600, 73, 104, 32, 10),
    AutoRadioButton("19200", BEEPER_BAUD_19200, 107, 90, 32, 10),
    AutoRadioButton("38400", BEEPER_BAUD_38400, 107, 104, 32, 10),
    DefPushButton("OK", IDOK, 149, 82, 44, 14, WS_GROUP),
    PushButton("Cancel", IDCANCEL, 149, 102, 44, 14),
};

const DialogTemplate beeperDialogTemplate{
    "DLG_BEEPER", "Beeper Setup", 200, 127, "MS Sans Serif", 8, DIALOG_STYLE, beeperItems};
