// The dialogs' colour answer and the help they open.
#include "resources/dialogcommon.h"

#include "platform/help.h"

using namespace platform;

HBRUSH buttonFaceBrush = nullptr;

INT_PTR AnswerDialogColor(UINT message, WPARAM wParam) {
    if (message != WM_CTLCOLORDLG && message != WM_CTLCOLORBTN && message != WM_CTLCOLORSTATIC)
        return 0;
    SetBkColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_BTNFACE));
    return reinterpret_cast<INT_PTR>(buttonFaceBrush);
}

void ShowHelp(HWND window, unsigned topic) {
    if (topic < 101)
        WinHelp(window, "tarnmap.hlp", HELP_CONTENTS, 0);
    else
        WinHelp(window, "tarnmap.hlp", HELP_CONTEXT, topic);
}
