// The program's one message queue as the logic knows it: message numbers and the packing of
// their parameters, posting, sending, taking and dispatching messages, and timers. A message
// goes to a window handle; what a window is beyond its handle is window.h's. Names and
// numbers are Win32's.
#pragma once

#include "platform/types.h"

#include <cstdint>

namespace platform {

using LONG = std::int32_t;
using INT_PTR = std::intptr_t;
using UINT_PTR = std::uintptr_t;
using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);

// ---- Window messages ----
constexpr UINT WM_CREATE = 0x0001;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_MOVE = 0x0003;
constexpr UINT WM_SIZE = 0x0005;
constexpr UINT WM_ENABLE = 0x000A;
constexpr UINT WM_SETTEXT = 0x000C;
constexpr UINT WM_GETTEXT = 0x000D;
constexpr UINT WM_GETTEXTLENGTH = 0x000E;
constexpr UINT WM_PAINT = 0x000F;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_SETCURSOR = 0x0020;
constexpr UINT WM_DRAWITEM = 0x002B;
constexpr UINT WM_SETFONT = 0x0030;
constexpr UINT WM_GETFONT = 0x0031;
constexpr UINT WM_NOTIFY = 0x004E;
constexpr UINT WM_KEYDOWN = 0x0100;
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

// PeekMessage removal.
constexpr UINT PM_NOREMOVE = 0x0000;
constexpr UINT PM_REMOVE = 0x0001;

// ---- The message queue ----
struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
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

} // namespace platform
