// "DLG_TRACEROUTE": host box, the three buttons stacked at the right and the results box.
// The ping dialog renames button 1 to "&Ping"; both dialogs re-lay the controls when the
// dialog is resized.
#include "resources/dialogs_tools2.h"

using namespace platform;

static const DialogItem traceRouteItems[] = {
    LeftText("Host name / IP Address:", -1, 4, 7, 87, 9),
    EditText(TOOL_HOST_EDIT, 4, 19, 251, 12, ES_AUTOHSCROLL),
    DefPushButton("&Trace Route", TOOL_START_BUTTON, 263, 16, 50, 14),
    PushButton("&Options", TOOL_OPTIONS_BUTTON, 263, 31, 50, 14),
    PushButton("E&xit", TOOL_EXIT_BUTTON, 263, 1, 50, 14),
    LeftText("Results:", -1, 4, 34, 34, 10),
    EditText(TOOL_RESULTS_EDIT, 4, 48, 309, 133,
             ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | ES_AUTOHSCROLL | WS_VSCROLL |
                 WS_HSCROLL),
};

const DialogTemplate traceRouteDialogTemplate{"DLG_TRACEROUTE",
                                              "Ping/Trace Route",
                                              318,
                                              185,
                                              "MS Sans Serif",
                                              8,
                                              WS_CAPTION | WS_SYSMENU | DS_MODALFRAME |
                                                  WS_THICKFRAME,
                                              traceRouteItems};
