// The helpers the tool windows have in common: appending within a buffer, opening a tool's
// one window, the button places of a resizable tool, the results font.
#include "tools/shared.h"

#include "model/settings.h"
#include "platform/dialog.h"
#include "platform/gdi.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

using namespace platform;

bool AppendText(char* buffer, unsigned size, const char* format, ...) {
    if (size == 0)
        return false;
    std::size_t used = strnlen(buffer, size - 1);
    std::va_list arguments;
    va_start(arguments, format);
    int wanted = std::vsnprintf(buffer + used, size - used, format, arguments);
    va_end(arguments);
    return wanted >= 0 && static_cast<std::size_t>(wanted) < size - used;
}

bool GetControlRect(HWND dialog, int id, RECT* rect) {
    HWND control = GetDlgItem(dialog, id);
    if (control == 0 || !GetWindowRect(control, rect))
        return false;
    POINT topLeft{rect->left, rect->top};
    POINT bottomRight{rect->right, rect->bottom};
    ScreenToClient(dialog, &topLeft);
    ScreenToClient(dialog, &bottomRight);
    *rect = RECT{topLeft.x, topLeft.y, bottomRight.x, bottomRight.y};
    return true;
}

int PlaceToolButtons(HWND dialog, const RECT& client) {
    RECT button;
    if (!GetControlRect(dialog, IDOK, &button))
        return 0;
    int width = button.right - button.left;
    int height = button.bottom - button.top;
    int x = client.right - width - height / 2;
    MoveWindow(GetDlgItem(dialog, IDOK), x, height / 2, width, height, true);
    if (HWND exitButton = GetDlgItem(dialog, IDCANCEL); exitButton != 0)
        MoveWindow(exitButton, x, height / 2 + height + 5, width, height, true);
    return x;
}

void ResizeControl(HWND dialog, int id, int width, int height) {
    RECT rect;
    if (!GetControlRect(dialog, id, &rect))
        return;
    if (height < 0)
        height = rect.bottom - rect.top;
    MoveWindow(GetDlgItem(dialog, id), rect.left, rect.top, std::max(width, 0), std::max(height, 0),
               true);
}

void ApplyToolFont(HWND dialog, int id) {
    if (options.fixedFontTools == 0)
        return;
    SendDlgItemMessage(dialog, id, WM_SETFONT,
                       reinterpret_cast<WPARAM>(GetStockObject(SYSTEM_FIXED_FONT)), 0);
}

bool OpenToolWindow(HWND owner, const char* templateName, DLGPROC procedure, const HWND* window) {
    if (*window != 0) {
        ShowWindow(*window, SW_SHOWNORMAL);
        SetFocus(*window);
        return true;
    }
    return CreateDialog(owner, templateName, procedure) != 0;
}
