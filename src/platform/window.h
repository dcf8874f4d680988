// Windows as the logic knows them: window classes and window procedures, creation and
// destruction, the one message queue with its timers, repaint requests and painting,
// geometry, text, mouse capture, key state and cursors. Names and numbers are Win32's.
#pragma once

#include "platform/gdi.h"
#include "platform/types.h"

#include <cstdint>

namespace platform {

using HMENU = std::uint32_t; // a menu handle, or a child window's identifier
using WORD = std::uint16_t;
using LONG = std::int32_t;
using INT_PTR = std::intptr_t;
using UINT_PTR = std::uintptr_t;
using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);
using DLGPROC = INT_PTR (*)(HWND, UINT, WPARAM, LPARAM);
using HICON = const char* const*; // an icon is a picture in XPM form

struct Cursor;
using HCURSOR = const Cursor*;

// ---- Window messages ----
constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_CREATE = 0x0001;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_MOVE = 0x0003;
constexpr UINT WM_SIZE = 0x0005;
constexpr UINT WM_SETFOCUS = 0x0007;
constexpr UINT WM_KILLFOCUS = 0x0008;
constexpr UINT WM_ENABLE = 0x000A;
constexpr UINT WM_SETTEXT = 0x000C;
constexpr UINT WM_GETTEXT = 0x000D;
constexpr UINT WM_GETTEXTLENGTH = 0x000E;
constexpr UINT WM_PAINT = 0x000F;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_SHOWWINDOW = 0x0018;
constexpr UINT WM_SETCURSOR = 0x0020;
constexpr UINT WM_DRAWITEM = 0x002B;
constexpr UINT WM_SETFONT = 0x0030;
constexpr UINT WM_GETFONT = 0x0031;
constexpr UINT WM_NOTIFY = 0x004E;
constexpr UINT WM_KEYDOWN = 0x0100;
constexpr UINT WM_KEYUP = 0x0101;
constexpr UINT WM_CHAR = 0x0102;
constexpr UINT WM_INITDIALOG = 0x0110;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_CTLCOLOREDIT = 0x0133;
constexpr UINT WM_CTLCOLORLISTBOX = 0x0134;
constexpr UINT WM_CTLCOLORBTN = 0x0135;
constexpr UINT WM_CTLCOLORDLG = 0x0136;
constexpr UINT WM_CTLCOLORSTATIC = 0x0138;
constexpr UINT WM_MOUSEMOVE = 0x0200;
constexpr UINT WM_LBUTTONDOWN = 0x0201;
constexpr UINT WM_LBUTTONUP = 0x0202;
constexpr UINT WM_LBUTTONDBLCLK = 0x0203;
constexpr UINT WM_RBUTTONDOWN = 0x0204;
constexpr UINT WM_RBUTTONUP = 0x0205;
constexpr UINT WM_RBUTTONDBLCLK = 0x0206;
constexpr UINT WM_USER = 0x0400;

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

// ---- Packing of message parameters ----
constexpr WORD LOWORD(std::uintptr_t value) {
    return static_cast<WORD>(value & 0xFFFF);
}
constexpr WORD HIWORD(std::uintptr_t value) {
    return static_cast<WORD>((value >> 16) & 0xFFFF);
}
constexpr DWORD MAKELONG(unsigned low, unsigned high) {
    return static_cast<DWORD>((low & 0xFFFF) | ((high & 0xFFFF) << 16));
}
constexpr LPARAM MAKELPARAM(int low, int high) {
    return static_cast<LPARAM>(MAKELONG(static_cast<unsigned>(low), static_cast<unsigned>(high)));
}
constexpr WPARAM MAKEWPARAM(unsigned low, unsigned high) {
    return MAKELONG(low, high);
}
// The signed coordinates of a mouse message (negative left of or above a capturing window).
constexpr int GET_X_LPARAM(LPARAM value) {
    return static_cast<std::int16_t>(LOWORD(static_cast<std::uintptr_t>(value)));
}
constexpr int GET_Y_LPARAM(LPARAM value) {
    return static_cast<std::int16_t>(HIWORD(static_cast<std::uintptr_t>(value)));
}

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
constexpr DWORD WS_DLGFRAME = 0x00400000;
constexpr DWORD WS_BORDER = 0x00800000;
constexpr DWORD WS_CAPTION = 0x00C00000;
constexpr DWORD WS_MAXIMIZE = 0x01000000;
constexpr DWORD WS_CLIPCHILDREN = 0x02000000;
constexpr DWORD WS_CLIPSIBLINGS = 0x04000000;
constexpr DWORD WS_DISABLED = 0x08000000;
constexpr DWORD WS_VISIBLE = 0x10000000;
constexpr DWORD WS_MINIMIZE = 0x20000000;
constexpr DWORD WS_CHILD = 0x40000000;
constexpr DWORD WS_POPUP = 0x80000000;
constexpr DWORD WS_OVERLAPPEDWINDOW =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
constexpr DWORD WS_EX_CLIENTEDGE = 0x00000200;

// Class styles.
constexpr UINT CS_VREDRAW = 0x0001;
constexpr UINT CS_HREDRAW = 0x0002;
constexpr UINT CS_DBLCLKS = 0x0008;

// "Let the system choose" for a position or size given to CreateWindow.
constexpr int CW_USEDEFAULT = static_cast<int>(0x80000000u);

// ShowWindow commands.
constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_NORMAL = 1;
constexpr int SW_SHOWMINIMIZED = 2;
constexpr int SW_SHOWMAXIMIZED = 3;
constexpr int SW_MAXIMIZE = 3;
constexpr int SW_SHOWNOACTIVATE = 4;
constexpr int SW_SHOW = 5;
constexpr int SW_MINIMIZE = 6;
constexpr int SW_SHOWMINNOACTIVE = 7;
constexpr int SW_SHOWNA = 8;
constexpr int SW_RESTORE = 9;
constexpr int SW_SHOWDEFAULT = 10;

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

// PeekMessage removal.
constexpr UINT PM_NOREMOVE = 0x0000;
constexpr UINT PM_REMOVE = 0x0001;

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
HWND CreateWindowEx(DWORD exStyle, const char* className, const char* title, DWORD style, int x,
                    int y, int width, int height, HWND parent, HMENU menu, void* param);
HWND CreateWindow(const char* className, const char* title, DWORD style, int x, int y, int width,
                  int height, HWND parent, HMENU menu, void* param);

// Sends WM_DESTROY to the window and then to each of its children and owned windows, and
// ends them all; their handles, timers and queued messages go with them.
bool DestroyWindow(HWND window);
bool IsWindow(HWND window);

// The default answer to every message a procedure does not handle: WM_CLOSE destroys the
// window, WM_PAINT validates it, WM_SETTEXT and WM_GETTEXT keep its title.
LRESULT DefWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// ---- The message queue ----
struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};

// Queues a message for a window (0: for the program as a whole) and returns at once.
// Returns false when the window does not exist.
bool PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Calls the window's procedure now and returns its answer (0 for a window that is gone).
LRESULT SendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Asks the loop to end: GetMessage returns 0 with WM_QUIT once the queue is empty.
void PostQuitMessage(int exitCode);
// Handles pending input and painting (delivered to the window procedures), then takes the
// first queued message for `window` (0: any, and the quit request) within the message
// range (0, 0: all) into `message`. PM_REMOVE removes it. Returns false when none waits.
bool PeekMessage(MSG* message, HWND window, UINT first, UINT last, UINT remove);
// Like PeekMessage with PM_REMOVE, but waits for a message without using the processor.
// Returns 0 for WM_QUIT, else 1.
int GetMessage(MSG* message, HWND window, UINT first, UINT last);
bool TranslateMessage(const MSG* message); // characters come with their keys already
LRESULT DispatchMessage(const MSG* message);

// Timers: every `milliseconds` a WM_TIMER with the id in the word parameter is queued for
// the window, never more than one of them waiting at a time. Setting an existing id again
// restarts it with the new period. Returns the id, or 0 when it cannot be set.
UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT milliseconds, void* unused);
// Stops the timer and withdraws its WM_TIMER if one is waiting.
bool KillTimer(HWND window, UINT_PTR id);

// ---- Painting ----
struct PAINTSTRUCT {
    HDC hdc;
    bool fErase;  // the class has no brush, so the procedure must erase the area itself
    RECT rcPaint; // the area to paint, in client coordinates
};

// Adds `rect` (null: the whole client area) to the area to repaint; `erase` fills it with
// the class brush at the next BeginPaint. The WM_PAINT follows when input is handled.
bool InvalidateRect(HWND window, const RECT* rect, bool erase);
bool ValidateRect(HWND window, const RECT* rect);
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
bool IsWindowVisible(HWND window);
bool IsIconic(HWND window);
bool EnableWindow(HWND window, bool enable); // returns whether it was disabled before
bool IsWindowEnabled(HWND window);
HWND GetParent(HWND window); // the parent of a child, the owner of a top-level window
bool SetWindowText(HWND window, const char* text);
// Copies the text, cut to `size` - 1 characters; returns the characters copied.
int GetWindowText(HWND window, char* buffer, int size);
int GetWindowTextLength(HWND window);
WORD GetWindowWord(HWND window, int index);
WORD SetWindowWord(HWND window, int index, WORD value);
HWND SetFocus(HWND window);
HWND GetFocus();
int GetSystemMetrics(int index);

// ---- Mouse, keys and cursors ----
// Mouse messages go to the capturing window wherever the pointer is, in its coordinates.
HWND SetCapture(HWND window);
bool ReleaseCapture();
HWND GetCapture();
HCURSOR LoadCursor(int cursorId); // IDC_*; 0 for an unknown id
// Shows the cursor over the program's windows and returns the one shown before. A wait
// cursor (IDC_WAIT, IDC_APPSTARTING) stays until another cursor is set.
HCURSOR SetCursor(HCURSOR cursor);
bool GetCursorPos(POINT* point);

} // namespace platform
