// What the network tools share: appending within a text buffer, the opening of a tool's one
// window, its messages to itself, and the placing of its controls when it is resized.
#pragma once

#include "platform/dialog.h"
#include "platform/types.h"
#include "platform/window.h"
#include "platform/winsock.h"

// Appends formatted text to `buffer` (`size` bytes, holding a terminated string), cut to
// fit. Returns false when something was cut.
bool AppendText(char* buffer, unsigned size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// The place of control `id` in the dialog's client coordinates; false when there is no
// such control.
bool GetControlRect(platform::HWND dialog, int id, platform::RECT* rect);

// Moves buttons 1 and 2 of a resizable tool dialog to its top right corner: with bw x bh
// the size of button 1, both go to x = right - bw - bh / 2, button 1 at y = bh / 2 and
// button 2 at y = bh / 2 + bh + 5, both bw x bh. Returns their x (0 without button 1).
int PlaceToolButtons(platform::HWND dialog, const platform::RECT& client);

// Gives control `id` a new width and, when `height` is not negative, a new height; its
// top-left corner stays. Widths and heights below 0 become 0.
void ResizeControl(platform::HWND dialog, int id, int width, int height);

// Gives the tools' results box `id` the system's fixed-pitch font when FIXFONT is on.
void ApplyToolFont(platform::HWND dialog, int id);

// Messages the tool windows post to themselves, each for the tool's own window only.
constexpr platform::UINT WM_TOOL_LOOKUP_DONE = 2021; // a look-up of the tool ended
constexpr platform::UINT WM_TOOL_ECHO_DONE = 2022;   // an echo through the ICMP library ended
constexpr platform::UINT WM_TOOL_SOCKET = 2023;      // an event of the tool's socket

// Opens a tool's one window, modeless, from `templateName` over `owner`; its procedure
// keeps the handle in `*window` from WM_INITDIALOG to WM_DESTROY. When the tool's window
// is open already, it is shown and given the focus instead. True when the window is open.
bool OpenToolWindow(platform::HWND owner, const char* templateName, platform::DLGPROC procedure,
                    const platform::HWND* window);

// The socket address a tool's host text names when it is an address: IPv4 (as inet_addr
// reads it), or IPv6 bare or in brackets, with or without a zone, with `port`. Its length,
// or 0 when the text is no address (a name, to be looked up).
int ToolHostAddress(const char* text, unsigned port, platform::sockaddr_storage* address);

// The socket address of the first address of a look-up's host entry (either form; an
// IPv4-mapped one as IPv4), with `port`. Its length, or 0 when the entry has none.
int ToolEntryAddress(const platform::hostent* entry, unsigned port,
                     platform::sockaddr_storage* address);
