// The Lookup tool: a modeless window that turns a name into its addresses or an address
// into its name on the resolver's workers, shown as the official name, every address and
// every alias; a name's addresses of both families. Also owns the host text that the Lookup and
// Connect windows share.
#pragma once

#include "platform/types.h"
#include "platform/window.h"
#include "platform/winsock.h"
#include "resources/dialogs_tools1.h"

constexpr unsigned TOOL_HOST_LENGTH = 144;

// The answer of one look-up: room for about 1300 addresses (24 bytes each in the entry), as
// a round-robin name or a hosts file may give many more than the resolver's usual minimum
// holds. The text shown takes at most three times the bytes of the entry it shows: an
// address line is at most 50 bytes, an alias line 11 more than its name.
constexpr unsigned LOOKUP_ANSWER_SIZE = 32 * 1024;
constexpr unsigned LOOKUP_SHOWN_SIZE = 3 * LOOKUP_ANSWER_SIZE;

// The last host name or address typed into the Lookup or the Connect dialog; both start
// with it. Empty at start-up, never saved.
extern char toolHost[TOOL_HOST_LENGTH + 1];

// The Lookup window and its one look-up under way: started by the OK button, answered by
// WM_TOOL_LOOKUP_DONE, called off by a new look-up or the window's end.
struct LookupTool {
    platform::HWND window;           // open from WM_INITDIALOG to WM_DESTROY; 0 when closed
    platform::HANDLE task;           // the resolver's task; 0 when none is under way
    bool byAddress;                  // the text was an IPv4 or IPv6 address
    char text[TOOL_HOST_LENGTH + 1]; // what is looked up
    alignas(platform::hostent) char answer[LOOKUP_ANSWER_SIZE];
    // The answer as shown: every address and alias, each on its line.
    char shown[LOOKUP_SHOWN_SIZE];
};
extern LookupTool lookupTool;

// Starts resolving `text` (an IPv4 address, or an IPv6 one bare or in brackets, by address;
// anything else by name, for the addresses of both families) for the
// Lookup window, replacing any look-up under way, and shows "looking up" in its box. The
// answer replaces the box's text when it comes.
void StartLookup(const char* text);

// Keeps the Lookup buttons at the top right, the host field at half the width and the
// results box filling the rest with equal margins.
void LayoutLookupDialog(platform::HWND dialog);

platform::INT_PTR LookupDialogProc(platform::HWND dialog, platform::UINT message,
                                   platform::WPARAM wParam, platform::LPARAM lParam);

// Opens the Lookup window ("DLG_LOOKUP"), or brings the open one forward. 1 when it is open.
int ShowLookupTool(platform::HWND owner);
