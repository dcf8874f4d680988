// Windows as the logic knows them: window classes and window procedures, creation and
// destruction, repaint requests and painting, geometry, text, mouse capture, keys and
// cursors. The message queue they receive their messages through is messages.h's. Names
// and numbers are Win32's.
#pragma once

#include "platform/gdi.h"
#include "platform/messages.h"
#include "platform/types.h"

#include <cstdint>

namespace platform {

using HMENU = std::uint32_t; // a menu handle, or a child window's identifier
using DLGPROC = INT_PTR (*)(HWND, UINT, WPARAM, LPARAM);
using HICON = const char* const*; // an icon is a picture in XPM form

struct Cursor;
using HCURSOR = const Cursor*;

// Key state flags of mouse messages (word parameter).
constexpr WPARAM MK_LBUTTON = 0x0001;
constexpr WPARAM MK_RBUTTON = 0x0002;
constexpr WPARAM MK_SHIFT = 0x0004;
constexpr WPARAM MK_CONTROL = 0x0008;
constexpr WPARAM MK_MBUTTON = 0x0010;

// Size types of WM_SIZE (word parameter).
constexpr WPARAM SIZE_RESTORED = 0;
constexpr WPARAM SIZE_MINIMIZED = 1;
constexpr WPARAM SIZE_MAXIMIZED = 2;

// ---- Window styles ----
constexpr DWORD WS_OVERLAPPED = 0x00000000;
constexpr DWORD WS_TABSTOP = 0x00010000;
constexpr DWORD WS_MAXIMIZEBOX = 0x00010000;
constexpr DWORD WS_GROUP = 0x00020000;
constexpr DWORD WS_MINIMIZEBOX = 0x00020000;
constexpr DWORD WS_THICKFRAME = 0x00040000;
constexpr DWORD WS_SYSMENU = 0x00080000;
constexpr DWORD WS_HSCROLL = 0x00100000;
constexpr DWORD WS_VSCROLL = 0x00200000;
constexpr DWORD WS_BORDER = 0x00800000;
constexpr DWORD WS_CAPTION = 0x00C00000;
constexpr DWORD WS_CLIPCHILDREN = 0x02000000;
constexpr DWORD WS_DISABLED = 0x08000000;
constexpr DWORD WS_VISIBLE = 0x10000000;
constexpr DWORD WS_CHILD = 0x40000000;
constexpr DWORD WS_OVERLAPPEDWINDOW =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
constexpr DWORD WS_EX_CLIENTEDGE = 0x00000200;

// Class styles.
constexpr UINT CS_DBLCLKS = 0x0008;

// "Let the system choose" for a position or size given to CreateWindow.
constexpr int CW_USEDEFAULT = static_cast<int>(0x80000000u);

// Cursors for LoadCursor.
constexpr int IDC_ARROW = 32512;
constexpr int IDC_IBEAM = 32513;
constexpr int IDC_WAIT = 32514;
constexpr int IDC_CROSS = 32515;
constexpr int IDC_SIZEALL = 32646;
constexpr int IDC_APPSTARTING = 32650;

// Virtual key codes (WM_KEYDOWN word parameter).
constexpr int VK_BACK = 0x08;
constexpr int VK_TAB = 0x09;
constexpr int VK_RETURN = 0x0D;
constexpr int VK_SHIFT = 0x10;
constexpr int VK_CONTROL = 0x11;
constexpr int VK_MENU = 0x12;
constexpr int VK_ESCAPE = 0x1B;
constexpr int VK_SPACE = 0x20;
constexpr int VK_PRIOR = 0x21;
constexpr int VK_NEXT = 0x22;
constexpr int VK_END = 0x23;
constexpr int VK_HOME = 0x24;
constexpr int VK_LEFT = 0x25;
constexpr int VK_UP = 0x26;
constexpr int VK_RIGHT = 0x27;
constexpr int VK_DOWN = 0x28;
constexpr int VK_INSERT = 0x2D;
constexpr int VK_DELETE = 0x2E;
constexpr int VK_F1 = 0x70; // VK_F1 + n - 1 is Fn, up to F12

// System metrics.
constexpr int SM_CXSCREEN = 0;
constexpr int SM_CYSCREEN = 1;

// ---- Window classes ----
struct WNDCLASS {
    UINT style; // CS_*
    WNDPROC lpfnWndProc;
    int cbClsExtra;           // kept for the form; no class bytes are provided
    int cbWndExtra;           // extra bytes per window, up to 64, read with GetWindowWord
    HICON hIcon;              // null: the program's default icon
    HCURSOR hCursor;          // null: the arrow
    HBRUSH hbrBackground;     // fills the invalid area at BeginPaint; null: no erase
    const char* lpszMenuName; // a registered menu template, or null
    const char* lpszClassName;
};

// Registers a class under its name (case does not matter). Returns false when the name is
// taken or missing, or the procedure is null.
bool RegisterClass(const WNDCLASS* windowClass);

// What WM_CREATE carries in its long parameter.
struct CREATESTRUCT {
    void* lpCreateParams;
    HMENU hMenu;
    HWND hwndParent;
    int cy;
    int cx;
    int y;
    int x;
    LONG style;
    const char* lpszName;
    const char* lpszClass;
    DWORD dwExStyle;
};

// Creates a window of a registered class: a top-level window, or a child of `parent` with
// WS_CHILD, in which case `menu` is the child's identifier. Position and size are those of
// the whole window, in screen coordinates for a top-level window and in the parent's
// client coordinates for a child. Sends WM_CREATE (returning -1 from it cancels the
// creation), then WM_SIZE and WM_MOVE, and shows the window when WS_VISIBLE is given.
// Returns the new handle, or 0.
HWND CreateWindow(const char* className, const char* title, DWORD style, int x, int y, int width,
                  int height, HWND parent, HMENU menu, void* param);

// Sends WM_DESTROY to the window and then to each of its children and owned windows, and
// ends them all; their handles, timers and queued messages go with them.
bool DestroyWindow(HWND window);

// The default answer to every message a procedure does not handle: WM_CLOSE destroys the
// window, WM_PAINT validates it, WM_SETTEXT and WM_GETTEXT keep its title.
LRESULT DefWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// ---- Painting ----
struct PAINTSTRUCT {
    HDC hdc;
    bool fErase;  // the class has no brush, so the procedure must erase the area itself
    RECT rcPaint; // the area to paint, in client coordinates
};

// Adds `rect` (null: the whole client area) to the area to repaint; `erase` fills it with
// the class brush at the next BeginPaint. The WM_PAINT follows when input is handled.
bool InvalidateRect(HWND window, const RECT* rect, bool erase);
// Sends WM_PAINT now when part of the window waits to be repainted.
bool UpdateWindow(HWND window);
HDC BeginPaint(HWND window, PAINTSTRUCT* paint);
bool EndPaint(HWND window, const PAINTSTRUCT* paint);
// A context on the whole client area outside WM_PAINT; what is drawn shows at once.
HDC GetDC(HWND window);
int ReleaseDC(HWND window, HDC context);

// ---- Geometry, state and text ----
bool GetClientRect(HWND window, RECT* rect);
bool GetWindowRect(HWND window, RECT* rect); // in screen coordinates
bool ScreenToClient(HWND window, POINT* point);
bool ClientToScreen(HWND window, POINT* point);
bool MoveWindow(HWND window, int x, int y, int width, int height, bool repaint);
bool ShowWindow(HWND window, int command); // returns whether it was visible before
bool IsIconic(HWND window);
// Shows a top-level window over the whole screen, without frame, or returns it to the
// state it had (normal or maximised); returns whether it filled the screen before.
bool ShowFullScreen(HWND window, bool fullScreen);
bool EnableWindow(HWND window, bool enable); // returns whether it was disabled before
HWND GetParent(HWND window); // the parent of a child, the owner of a top-level window
bool SetWindowText(HWND window, const char* text);
WORD GetWindowWord(HWND window, int index);
WORD SetWindowWord(HWND window, int index, WORD value);
HWND SetFocus(HWND window);
int GetSystemMetrics(int index);

// ---- Mouse, keys and cursors ----
// Mouse messages go to the capturing window wherever the pointer is, in its coordinates.
HWND SetCapture(HWND window);
bool ReleaseCapture();
HCURSOR LoadCursor(int cursorId); // IDC_*; 0 for an unknown id
// Shows the cursor over the program's windows and returns the one shown before. A wait
// cursor (IDC_WAIT, IDC_APPSTARTING) stays until another cursor is set.
HCURSOR SetCursor(HCURSOR cursor);

} // namespace platform
