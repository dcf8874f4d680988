// The common controls of the main window: the status bar (panes of text along the foot of
// its parent, with a size grip) and the toolbar (a row of picture buttons along the top,
// with tips asked of the parent). Names, numbers and structures are Win32's; both bars are
// windows of the window layer, so ShowWindow, GetWindowRect and GetDC work on them.
#pragma once

#include "platform/window.h"

#include <cstdint>

namespace platform {

using HINSTANCE = void*;
using DWORD_PTR = std::uintptr_t;

// Registers the classes of the status bar and the toolbar. The two Create functions below
// do it themselves; CreateWindow on the class names needs it first.
void InitCommonControls();

// ---- Notifications (WM_NOTIFY, long parameter) ----
struct NMHDR {
    HWND hwndFrom;   // the control that asks
    UINT_PTR idFrom; // for a tip: the command id of the button
    UINT code;       // TTN_NEEDTEXT, ...
};

constexpr UINT TTN_FIRST = 0u - 520u;
constexpr UINT TTN_NEEDTEXT = TTN_FIRST - 0; // -520: the text of a tip, please

// The tip request. The parent points lpszText at its text (it is copied at once) or
// fills szText; a small number in lpszText (a string resource id) gives no text. Unlike
// Win32's, lpszText points to constant text, so a string literal needs no cast.
struct TOOLTIPTEXT {
    NMHDR hdr;
    const char* lpszText; // starts pointing at szText, which starts empty
    char szText[80];
    HINSTANCE hinst;
    UINT uFlags;
    LPARAM lParam;
};

// ---- Status bar ----
inline constexpr const char* STATUSCLASSNAME = "msctls_statusbar32";
constexpr DWORD SBARS_SIZEGRIP = 0x0100; // a grip in the lower right corner sizes the window

constexpr UINT SB_SETTEXT = WM_USER + 1;  // part | type, text -> TRUE, FALSE for a bad part
constexpr UINT SB_GETTEXT = WM_USER + 2;  // part, buffer -> MAKELONG(length, type)
constexpr UINT SB_SETPARTS = WM_USER + 4; // count (1-256), right edges (-1: to the end)
constexpr UINT SB_GETPARTS = WM_USER + 6; // how many to copy, edges or null -> count
constexpr UINT SB_GETRECT = WM_USER + 10; // part, RECT* -> the pane in client coordinates

// Drawing types, in the high byte of SB_SETTEXT's word parameter (the part is the low byte).
constexpr WPARAM SBT_NOBORDERS = 0x0100;
constexpr WPARAM SBT_POPOUT = 0x0200;

// SB_GETTEXT has no buffer size, as in Win32: the buffer must hold the part's text and
// its terminating zero. WM_SETTEXT sets the text of part 0; WM_GETFONT gives the font the panes are
// drawn in (a device context from GetDC starts with the system font, as in Win32).
//
// The bar places itself along the foot of its parent, the parent's width wide and as high
// as its font needs, when it is made and whenever it gets WM_SIZE (pass the parent's on).
// It starts with one part reaching to the end.
HWND CreateStatusWindow(LONG style, const char* text, HWND parent, UINT id);

// ---- Toolbar ----
inline constexpr const char* TOOLBARCLASSNAME = "ToolbarWindow32";
constexpr DWORD TBSTYLE_TOOLTIPS = 0x0100; // tips for the buttons, asked of the parent
constexpr DWORD TBSTYLE_FLAT = 0x0800;     // buttons show their edge only under the mouse

// Button states and styles (TBBUTTON.fsState, fsStyle).
constexpr BYTE TBSTATE_PRESSED = 0x02;
constexpr BYTE TBSTATE_ENABLED = 0x04;
constexpr BYTE TBSTATE_HIDDEN = 0x08;
constexpr BYTE TBSTYLE_BUTTON = 0x00;
constexpr BYTE TBSTYLE_SEP = 0x01; // a gap of iBitmap pixels (0: the standard 8)

struct TBBUTTON {
    int iBitmap;   // the image's index in the strip; for a separator its width
    int idCommand; // sent to the parent as WM_COMMAND when clicked
    BYTE fsState;
    BYTE fsStyle;
    BYTE bReserved[2];
    DWORD_PTR dwData;
    INT_PTR iString;
};

constexpr UINT TB_BUTTONCOUNT = WM_USER + 24; // -> buttons and separators
constexpr UINT TB_GETITEMRECT = WM_USER + 29; // index, RECT* -> found
constexpr UINT TB_BUTTONSTRUCTSIZE = WM_USER + 30;
constexpr UINT TB_AUTOSIZE = WM_USER + 33; // places the bar along the top of its parent

// Makes a toolbar child of `parent` with the buttons given. The images are `dxBitmap` x
// `dyBitmap` pictures side by side in the bitmap resource "TOOLBAR_<bitmapId>" (registered
// with RegisterBitmapResource; its transparent pixels show the button face); `instance` is
// kept for the form. Buttons are at least 7 pixels wider and 6 higher than the images.
// The bar places itself along the top of its parent, the parent's width wide, when it is
// made and on WM_SIZE or TB_AUTOSIZE. A click on an enabled button sends WM_COMMAND with
// its id (the toolbar in the long parameter) to the parent. With TBSTYLE_TOOLTIPS, the
// mouse resting on a button asks the parent for the tip with WM_NOTIFY TTN_NEEDTEXT.
// Returns 0 when `buttonSize` is not sizeof(TBBUTTON) or the parent does not exist.
HWND CreateToolbarEx(HWND parent, DWORD style, UINT id, int bitmapCount, HINSTANCE instance,
                     UINT_PTR bitmapId, const TBBUTTON* buttons, int buttonCount, int dxButton,
                     int dyButton, int dxBitmap, int dyBitmap, UINT buttonSize);

} // namespace platform
