// The templates of the Lookup, Finger, Whois and Connect dialogs. The three resizable
// ones are laid out as their resize rule leaves them: buttons at the top right, the
// results box with equal margins.
#include "resources/dialogs_tools1.h"

using namespace platform;

static constexpr DWORD RESIZABLE_TOOL = WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | DS_MODALFRAME;
static constexpr DWORD RESULTS_BOX =
    ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | ES_AUTOHSCROLL | WS_VSCROLL | WS_HSCROLL;

static const DialogItem lookupItems[] = {
    LeftText("Host name or IP address:", -1, 7, 6, 120, 9),
    EditText(LOOKUP_HOST, 7, 16, 130, 12, ES_AUTOHSCROLL),
    DefPushButton("&Lookup", IDOK, 203, 7, 50, 14),
    PushButton("E&xit", IDCANCEL, 203, 24, 50, 14),
    LeftText("Results:", -1, 7, 34, 60, 9),
    EditText(LOOKUP_RESULTS, 7, 44, 246, 119, RESULTS_BOX),
};

const DialogTemplate lookupDialogTemplate{"DLG_LOOKUP",   "Lookup",   260, 170, "MS Sans Serif", 8,
                                          RESIZABLE_TOOL, lookupItems};

static const DialogItem fingerItems[] = {
    LeftText("Finger string:", -1, 7, 6, 120, 9),
    EditText(FINGER_STRING, 7, 16, 189, 12, ES_AUTOHSCROLL),
    DefPushButton("&Finger", IDOK, 203, 7, 50, 14),
    PushButton("E&xit", IDCANCEL, 203, 24, 50, 14),
    LeftText("Results:", -1, 7, 34, 60, 9),
    EditText(FINGER_RESULTS, 7, 44, 246, 119, RESULTS_BOX),
};

const DialogTemplate fingerDialogTemplate{"DLG_FINGER",   "Finger",   260, 170, "MS Sans Serif", 8,
                                          RESIZABLE_TOOL, fingerItems};

static const DialogItem whoisItems[] = {
    LeftText("WAIS Host:", -1, 7, 6, 120, 9),
    EditText(WHOIS_SERVER, 7, 16, 130, 12, ES_AUTOHSCROLL),
    DefPushButton("&Search", IDOK, 203, 7, 50, 14),
    PushButton("E&xit", IDCANCEL, 203, 24, 50, 14),
    LeftText("Search string:", -1, 7, 34, 120, 9),
    EditText(WHOIS_SEARCH, 7, 44, 246, 12, ES_AUTOHSCROLL),
    LeftText("Results:", -1, 7, 62, 60, 9),
    EditText(WHOIS_RESULTS, 7, 72, 246, 111, RESULTS_BOX),
};

const DialogTemplate whoisDialogTemplate{"DLG_WHOIS",    "Whois",   260, 190, "MS Sans Serif", 8,
                                         RESIZABLE_TOOL, whoisItems};

static const DialogItem connectItems[] = {
    LeftText("Host name/address:", -1, 7, 6, 120, 9),
    EditText(CONNECT_HOST, 7, 16, 130, 12, ES_AUTOHSCROLL),
    LeftText("Port:", -1, 7, 34, 60, 9),
    EditText(CONNECT_PORT, 7, 44, 50, 12, ES_AUTOHSCROLL),
    DefPushButton("OK", IDOK, 145, 7, 48, 14),
    PushButton("Cancel", IDCANCEL, 145, 24, 48, 14),
};

const DialogTemplate connectDialogTemplate{
    "DLG_CONNECT", "Connect", 200, 64, "MS Sans Serif", 8, WS_CAPTION | WS_SYSMENU | DS_MODALFRAME,
    connectItems};
