// The program's help: its pages shown in the help window. Names and numbers are Win32's.
#pragma once

#include "platform/types.h"

namespace platform {

constexpr UINT HELP_CONTEXT = 0x0001;
constexpr UINT HELP_QUIT = 0x0002;
constexpr UINT HELP_CONTENTS = 0x0003;

// Opens our help pages in the help window: the contents, or the page of a topic number
// (300 main window, 400 Options, 500 Host Information, 600 edit mode). HELP_QUIT closes
// the window. `file` names the help for the form; the pages are those in help/ of the
// data directory. False when the help cannot be found.
bool WinHelp(HWND owner, const char* file, UINT command, DWORD data);

} // namespace platform
