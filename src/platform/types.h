// The plain types that the logic and the platform layer exchange: handles, rectangles,
// message parameters, and the show states of a window (ShowWindow, and WinExec for the
// program it starts). No toolkit or system header is needed to use them.
#pragma once

#include <cstdint>

namespace platform {

// A window is known by a 32-bit handle value that stays fixed for its life; 0 is none.
using HWND = std::uint32_t;
using UINT = std::uint32_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

// An open system object (an ICMP echo handle, ...); INVALID_HANDLE_VALUE, all bits set, is
// what a failed open returns.
using HANDLE = void*;
inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(~std::uintptr_t{0});

struct RECT {
    int left;
    int top;
    int right;  // exclusive
    int bottom; // exclusive
};

struct POINT {
    int x;
    int y;
};

// Show states: how ShowWindow shows a window, how a started program should show.
constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_SHOWMINIMIZED = 2;
constexpr int SW_SHOWMAXIMIZED = 3;
constexpr int SW_SHOW = 5;
constexpr int SW_MINIMIZE = 6;
constexpr int SW_SHOWMINNOACTIVE = 7;
constexpr int SW_RESTORE = 9;
constexpr int SW_SHOWDEFAULT = 10;

} // namespace platform
