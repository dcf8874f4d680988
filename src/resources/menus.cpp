// Menu templates as data: each line is the depth, the text, the command and the flags.
#include "resources/menus.h"

#include "resources/commands.h"

using namespace platform;

static const MenuTemplateItem runMenuItems[] = {
    {0, "&File", 0, MF_POPUP},
    {1, "&Load...", CMD_LOAD, 0},
    {1, "&Save", CMD_SAVE, 0},
    {1, "Save &As...", CMD_SAVE_AS, 0},
    {1, nullptr, 0, MF_SEPARATOR},
    {1, "E&xit", CMD_EXIT, 0},
    {0, "&Edit", CMD_EDIT_MODE, 0},
    {0, "&View", 0, MF_POPUP},
    {1, "&Full screen\tF11", CMD_FULL_SCREEN, 0},
    {0, "&Tools", 0, MF_POPUP},
    {1, "&Check", CMD_CHECK, 0},
    {1, nullptr, 0, MF_SEPARATOR},
    {1, "&Telnet...", CMD_TELNET, 0},
    {1, "&FTP...", CMD_FTP, 0},
    {1, "&Lookup...", CMD_LOOKUP, 0},
    {1, "&Ping...", CMD_PING, 0},
    {1, "Trace&route...", CMD_TRACEROUTE, 0},
    {1, "&Whois...", CMD_WHOIS, 0},
    {1, "F&inger...", CMD_FINGER, 0},
    {0, "&Options", 0, MF_POPUP},
    {1, "Show &Toolbar", CMD_SHOW_TOOLBAR, 0},
    {1, "Show &Status Bar", CMD_SHOW_STATUS_BAR, 0},
    {1, nullptr, 0, MF_SEPARATOR},
    {1, "&Preferences...", CMD_PREFERENCES, 0},
    {1, "&Colors...", CMD_COLORS, 0},
    {0, "&Help", 0, MF_POPUP},
    {1, "&Contents", CMD_HELP_CONTENTS, 0},
    {1, "&Main Window", CMD_HELP_MAIN_WINDOW, 0},
    {1, "&Host Info", CMD_HELP_HOST_INFO, 0},
    {1, nullptr, 0, MF_SEPARATOR},
    {1, "&About...", CMD_ABOUT, 0},
};

static const MenuTemplateItem editMenuItems[] = {
    {0, "&Add", 0, MF_POPUP},
    {1, "&Host", CMD_ADD_HOST, 0},
    {1, "&Line", CMD_ADD_LINE, 0},
    {0, "&Delete", 0, MF_POPUP},
    {1, "&Host", CMD_DELETE_HOST, 0},
    {1, "&Line", CMD_DELETE_LINE, 0},
    {0, "Ed&it", 0, MF_POPUP}, // E is End_edit's
    {1, "&Parents from Lines...", CMD_PARENTS_FROM_LINES, 0},
    {0, "&End_edit", CMD_EDIT_MODE, 0},
    {0, "&Help", 0, MF_POPUP},
    {1, "&Edit Mode", CMD_HELP_EDIT_MODE, 0},
    {1, "&Host Info", CMD_HELP_HOST_INFO, 0},
    {1, nullptr, 0, MF_SEPARATOR},
    {1, "&About...", CMD_ABOUT, 0},
};

const MenuTemplate runMenuTemplate{"FLMMENU0", runMenuItems};
const MenuTemplate editMenuTemplate{"FLMMENU1", editMenuItems};
