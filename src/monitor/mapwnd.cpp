// The map window and its hidden command buttons, and the host detail window.
#include "monitor/mapwnd.h"

#include "icmp/icmplib.h"
#include "model/address.h"
#include "model/parents.h"
#include "monitor/alarms.h"
#include "monitor/poll.h"
#include "platform/dialog.h"
#include "platform/gdi.h"
#include "platform/window.h"
#include "resources/commands.h"

#include <cstdio>
#include <cstring>

using namespace platform;

/*** globals ***/

const char* const DETAIL_CLASS = "WFELLMAP1";
const char* const MONITOR_CLASS = "TARNMAPMONTORWND";

HWND mainWindow = 0;
HWND mapWindow = 0;
HWND checkButton = 0;
int bandTop = 0;
HCURSOR arrowCursor = nullptr;
HCURSOR busyCursor = nullptr;
int cursorState = 0;

/*** the map window ***/

static HWND CreateHiddenButton(HWND parent, const char* text, unsigned command, int x, int y) {
    return CreateWindow("BUTTON", text, WS_CHILD, x, y, 48, 18, parent, command, nullptr);
}

void CreateMonitorWindow(HWND window) {
    RECT client;
    GetClientRect(window, &client);
    int width = client.right;
    int height = client.bottom;
    bandTop = height - 40;
    mapWindow = CreateWindow(MONITOR_CLASS, nullptr, WS_CHILD | WS_VISIBLE, 2, 20, width - 4,
                             height - 40, window, MAP_WINDOW_ID, nullptr);
    checkButton = CreateHiddenButton(window, "check", CMD_CHECK, width - 50, height - 52);
    CreateHiddenButton(window, "abort", CMD_ABORT, width - 100, height - 52);
    CreateHiddenButton(window, "quiet", CMD_QUIET, width - 150, height - 52);
    ReportStatus(nullptr);
}

/*** the host detail window ***/

int ComposeHostDetail(const HostRecord& host, char lines[DETAIL_LINES][DETAIL_LINE_LENGTH]) {
    int count = 0;
    std::snprintf(lines[count++], DETAIL_LINE_LENGTH, "Name: %s", host.address);
    HostAddress address;
    bool resolved = ClassifyAddress(host.resolvedAddr, &address) != ADDRESS_NAME;
    std::snprintf(lines[count++], DETAIL_LINE_LENGTH, "Addr: %s",
                  resolved ? address.text : "(not resolved)");
    std::snprintf(lines[count++], DETAIL_LINE_LENGTH, "Inf1: %s", host.info1);
    std::snprintf(lines[count++], DETAIL_LINE_LENGTH, "Inf2: %s", host.info2);
    if (HostIsChecked(host))
        std::snprintf(lines[count++], DETAIL_LINE_LENGTH, "Lost: %u", host.lost);
    const char* state = nullptr;
    if ((host.flags & HOST_PROTOCOL_NONE) != 0)
        state = "Unknown";
    else if (!HostIsChecked(host))
        state = "Inactive";
    else
        state = StatusText(host.status);
    if (state != nullptr)
        std::snprintf(lines[count++], DETAIL_LINE_LENGTH, "Stat: %s", state);
    else
        std::snprintf(lines[count++], DETAIL_LINE_LENGTH, "Stat: %u", host.status);
    char time[ROUND_TRIP_TEXT_SIZE];
    if (host.rtt != 0 || host.rttTaken != 0)
        std::snprintf(lines[count++], DETAIL_LINE_LENGTH, "RTT: %s ms",
                      RoundTripText(host.rtt, time));
    int parent = HostParent(host);
    if (parent >= 0) {
        // An unreachable host names what is in its way; another its parent as it stands.
        int way =
            host.reach == REACH_UNREACHABLE ? HostInTheWay(FindHostBySerial(host.serial)) : -1;
        const HostRecord& behind = hostTable[way >= 0 ? way : parent];
        const char* standing = behind.reach == REACH_DOWN          ? " (down)"
                               : behind.reach == REACH_UNREACHABLE ? " (unreachable)"
                                                                   : "";
        std::snprintf(lines[count++], DETAIL_LINE_LENGTH, "Behind: %s%s", behind.name, standing);
    }
    return count;
}

HWND ShowHostDetail(HWND parent, int index) {
    if (index < 0 || index >= hostCount)
        return 0;
    const HostRecord& host = hostTable[index];
    POINT corner{HeldPixel(CellLeft(host.col) - 10), HeldPixel(CellTop(host.row) - 10)};
    ClientToScreen(parent, &corner);
    int desktopWidth = GetSystemMetrics(SM_CXSCREEN);
    int desktopHeight = GetSystemMetrics(SM_CYSCREEN);
    if (corner.x > desktopWidth - 170)
        corner.x = desktopWidth - 170;
    if (corner.y > desktopHeight - 170)
        corner.y = desktopHeight - 170;
    if (corner.x < 10)
        corner.x = 10;
    if (corner.y < 10)
        corner.y = 10;
    LONG units = GetDialogBaseUnits();
    int width = (LOWORD(static_cast<std::uint32_t>(units)) * 130) / 4;
    int height =
        (HIWORD(static_cast<std::uint32_t>(units)) * (HostParent(host) >= 0 ? 80 : 70)) / 8;
    HWND detail =
        CreateWindow(DETAIL_CLASS, host.name, WS_OVERLAPPED | WS_CAPTION, corner.x, corner.y, width,
                     height, parent, 0, reinterpret_cast<void*>(static_cast<std::intptr_t>(index)));
    if (detail == 0)
        return 0;
    ShowWindow(detail, SW_SHOWNORMAL);
    return detail;
}

static void PaintHostDetail(HWND window) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    if (dc == nullptr)
        return;
    int index = GetWindowWord(window, 0);
    if (index < hostCount) {
        TEXTMETRIC metrics;
        GetTextMetrics(dc, &metrics);
        int lineHeight = metrics.tmHeight + metrics.tmExternalLeading;
        char lines[DETAIL_LINES][DETAIL_LINE_LENGTH];
        int count = ComposeHostDetail(hostTable[index], lines);
        SetBkMode(dc, TRANSPARENT);
        for (int i = 0; i < count; ++i)
            TextOut(dc, 10, i * lineHeight, lines[i], static_cast<int>(std::strlen(lines[i])));
    }
    EndPaint(window, &paint);
}

LRESULT HostDetailProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE: {
        const CREATESTRUCT* create = reinterpret_cast<const CREATESTRUCT*>(lParam);
        SetWindowWord(window, 0,
                      static_cast<WORD>(reinterpret_cast<std::intptr_t>(create->lpCreateParams)));
        SetCapture(window);
        return 0;
    }
    case WM_LBUTTONUP:
        ReleaseCapture();
        SendMessage(window, WM_CLOSE, 0, 0);
        return 0;
    case WM_PAINT:
        PaintHostDetail(window);
        return 0;
    default:
        return DefWindowProc(window, message, wParam, lParam);
    }
}
