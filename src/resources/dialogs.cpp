// The templates: caption, size in dialog units, font, and each control's class, text, id
// and place.
#include "resources/dialogs.h"

using namespace platform;

const char* const LOGO_CLASS = "TARNMAPLOGO";

static const DialogItem aboutItems[] = {
    Control("", ABOUT_LOGO, LOGO_CLASS, SS_SUNKEN, 8, 8, 58, 52),
    LeftText("Tarnmap", -1, 74, 8, 150, 10),
    LeftText("Network Monitor for Linux", -1, 74, 19, 150, 9),
    LeftText("", ABOUT_VERSION, 74, 30, 150, 9),
    LeftText("", ABOUT_NOTICE, 74, 41, 150, 18),
    LeftText("", ABOUT_PLATFORM, 8, 68, 216, 9, SS_NOPREFIX),
    LeftText("Memory:", -1, 8, 81, 70, 9),
    LeftText("", ABOUT_MEMORY, 80, 81, 144, 9),
    LeftText("Math Co-processor:", -1, 8, 92, 70, 9),
    LeftText("", ABOUT_COPROCESSOR, 80, 92, 144, 9),
    LeftText("Disk Space:", -1, 8, 103, 70, 9),
    LeftText("", ABOUT_DISK, 80, 103, 144, 9),
    LeftText("Tarnmap checks the hosts of your map by ICMP echo or a TCP connection "
             "and tells you, by colour, log, sound, program or pager, when one goes down.",
             -1, 8, 118, 216, 27),
    DefPushButton("OK", IDOK, 96, 150, 40, 14),
};

const DialogTemplate aboutDialogTemplate{
    "DLG_ABOUT", "About", 232, 170, "MS Sans Serif", 8, WS_CAPTION | WS_SYSMENU | DS_MODALFRAME,
    aboutItems};
