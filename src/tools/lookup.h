// The Lookup tool: a name to its addresses or an address to its name through the
// resolver, shown as the official name, every address and every alias. Also owns the host
// text that the Lookup and Connect dialogs share.
#pragma once

#include "platform/types.h"
#include "platform/window.h"
#include "resources/dialogs_tools1.h"

constexpr unsigned TOOL_HOST_LENGTH = 144;

// The last host name or address typed into the Lookup or the Connect dialog; both start
// with it. Empty at start-up, never saved.
extern char toolHost[TOOL_HOST_LENGTH + 1];

// Resolves `text` (a dotted address by address, anything else by name) and shows the
// answer in `box`, replacing what was there. 1 when it resolved, 0 when it did not.
int LookupHost(const char* text, platform::HWND box);

// Keeps the Lookup buttons at the top right, the host field at half the width and the
// results box filling the rest with equal margins.
void LayoutLookupDialog(platform::HWND dialog);

platform::INT_PTR LookupDialogProc(platform::HWND dialog, platform::UINT message,
                                   platform::WPARAM wParam, platform::LPARAM lParam);

// Runs the modal Lookup dialog ("DLG_LOOKUP").
int ShowLookupTool(platform::HWND owner);
