// The templates of the Options, Tool Options, Colors and Beeper Setup dialogs and the ids
// of their controls.
#pragma once

#include "platform/dialog.h"

extern const platform::DialogTemplate optionsDialogTemplate;     // "DLG_OPTIONS"
extern const platform::DialogTemplate toolOptionsDialogTemplate; // "DLG_TOOLOPTIONS"
extern const platform::DialogTemplate colorsDialogTemplate;      // "DLG_COLORS"
extern const platform::DialogTemplate beeperDialogTemplate;      // "DLG_BEEPER"

enum OptionsControl : int {
    OPTIONS_SAVE_DEFAULT = 1, // to TARNMAP.INI
    OPTIONS_EXIT = 2,
    OPTIONS_SET_COLORS = 3,
    OPTIONS_SET_BEEPER = 4,
    OPTIONS_TIMER = 1000,
    OPTIONS_WAIT = 1001, // seconds
    OPTIONS_SOUND = 1002,
    OPTIONS_FIXED_MAP_FONT = 1003, // FONT 0
    OPTIONS_RAW_ICMP = 1004,
    OPTIONS_SHOW_TIMER = 1006,
    OPTIONS_SOLID_BACKGROUND = 1007,
    OPTIONS_TELNET = 1016,
    OPTIONS_FTP = 1017,
    OPTIONS_ICMP_LIBRARY = 1019,
    OPTIONS_FIXED_TOOL_FONT = 1021,
    OPTIONS_HELP = 1027,
    OPTIONS_ICONS = 1030,
    OPTIONS_LABELS = 1031,
    OPTIONS_NO_CHECKS = 1051,
    OPTIONS_SAVE_MAP = 1052, // to the map's settings file
    OPTIONS_PARALLEL = 1053, // checks at once, 0 all
    OPTIONS_FIT = 1054,      // FIT 1
    OPTIONS_NOTIFY = 1060,   // desktop notifications
};

enum ToolOptionsControl : int {
    TOOLOPTIONS_TIMEOUT = 1005, // seconds
    TOOLOPTIONS_COUNT = 1022,
    TOOLOPTIONS_DATA_LENGTH = 1023,
    TOOLOPTIONS_MAX_HOPS = 1024,
    TOOLOPTIONS_SHOW_NAMES = 1025,
    TOOLOPTIONS_VERBOSE = 1026,
};

enum ColorsControl : int {
    COLORS_SLOTS = 1032,
    COLORS_FIRST_BUTTON = 1033, // palette index 0; 1033 + index up to 1056
    COLORS_LAST_BUTTON = 1056,
    COLORS_SWATCH = 1057,
};

enum BeeperControl : int {
    BEEPER_COM1 = 1059,
    BEEPER_COM2 = 1060,
    BEEPER_BAUD_2400 = 1061, // + BEEP_BAUD: 1062 9600, 1063 19200, 1064 38400
    BEEPER_BAUD_9600 = 1062,
    BEEPER_BAUD_19200 = 1063,
    BEEPER_BAUD_38400 = 1064,
    BEEPER_NUMBER = 1074,
    BEEPER_ENABLE = 1075,
    BEEPER_DIAL_STRING = 1076,
};
