// The About box and its logo control, which draws the logo centred, or its middle when
// the control is smaller than the picture.
#include "shell/about.h"

#include "platform/dialog.h"
#include "platform/gdi.h"
#include "platform/system.h"
#include "platform/window.h"
#include "resources/dialogcommon.h"
#include "resources/dialogs.h"

#include <cstdio>

using namespace platform;

void ComposePlatformLine(char* buffer, unsigned size) {
    char platformName[128];
    char processor[128];
    GetPlatformName(platformName, sizeof platformName);
    GetProcessorName(processor, sizeof processor);
    unsigned count = GetProcessorCount();
    std::snprintf(buffer, size, "%s  - %u %s%s", platformName, count, processor,
                  count == 1 ? " CPU" : " CPUs");
}

void ComposeMemoryLine(char* buffer, unsigned size) {
    MEMORYSTATUS memory;
    GlobalMemoryStatus(&memory);
    std::snprintf(buffer, size, "Tot:%luk Avl:%luk",
                  static_cast<unsigned long>(memory.totalPhysical / 1024),
                  static_cast<unsigned long>(memory.availablePhysical / 1024));
}

void ComposeDiskLine(char* buffer, unsigned size) {
    char directory[4096];
    std::uint64_t freeBytes =
        GetCurrentDirectory(directory, sizeof directory) != 0 ? GetDiskFreeBytes(directory) : 0;
    std::snprintf(buffer, size, "%lu KB Free", static_cast<unsigned long>(freeBytes / 1024));
}

static void InitAboutBox(HWND dialog) {
    SetDlgItemText(dialog, ABOUT_NOTICE, "Free software for network administrators.");
    char text[256];
    std::snprintf(text, sizeof text, "Version %s", PROGRAM_VERSION);
    SetDlgItemText(dialog, ABOUT_VERSION, text);
    ComposePlatformLine(text, sizeof text);
    SetDlgItemText(dialog, ABOUT_PLATFORM, text);
    SetDlgItemText(dialog, ABOUT_COPROCESSOR, "Present");
    ComposeMemoryLine(text, sizeof text);
    SetDlgItemText(dialog, ABOUT_MEMORY, text);
    ComposeDiskLine(text, sizeof text);
    SetDlgItemText(dialog, ABOUT_DISK, text);
}

static INT_PTR AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    (void)lParam;
    switch (message) {
    case WM_INITDIALOG:
        InitAboutBox(dialog);
        return 1;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)
            EndDialog(dialog, 1);
        return 1;
    default:
        return AnswerDialogColor(message, wParam);
    }
}

void ShowAboutBox(HWND owner) {
    DialogBox(owner, "DLG_ABOUT", AboutDialogProc);
}

/*** the logo ***/

// The start of the part of a picture `picture` long shown in a control `control` long,
// and where it goes: centred when the control is larger, its middle when smaller.
static void PlaceAxis(int control, int picture, int* target, int* source, int* length) {
    if (control >= picture) {
        *target = (control - picture) / 2;
        *source = 0;
        *length = picture;
    } else {
        *target = 0;
        *source = (picture - control) / 2;
        *length = control;
    }
}

static void PaintLogo(HWND window) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    if (dc == nullptr)
        return;
    HBITMAP logo = LoadBitmap("TARNMAP_BMP");
    BITMAP size{};
    if (logo != nullptr && GetObject(logo, sizeof size, &size) != 0) {
        RECT client;
        GetClientRect(window, &client);
        int x, sourceX, width, y, sourceY, height;
        PlaceAxis(client.right, size.bmWidth, &x, &sourceX, &width);
        PlaceAxis(client.bottom, size.bmHeight, &y, &sourceY, &height);
        HDC memory = CreateCompatibleDC(dc);
        HGDIOBJ previous = SelectObject(memory, logo);
        BitBlt(dc, x, y, width, height, memory, sourceX, sourceY, SRCCOPY);
        SelectObject(memory, previous);
        DeleteDC(memory);
    }
    if (logo != nullptr)
        DeleteObject(logo);
    EndPaint(window, &paint);
}

static LRESULT LogoProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PAINT) {
        PaintLogo(window);
        return 0;
    }
    return DefWindowProc(window, message, wParam, lParam);
}

bool RegisterLogoClass() {
    WNDCLASS logoClass{};
    logoClass.lpfnWndProc = LogoProc;
    logoClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    logoClass.lpszClassName = LOGO_CLASS;
    return RegisterClass(&logoClass);
}
