// The helpers the tool windows have in common: appending within a buffer, opening a tool's
// one window, the button places of a resizable tool, the results font, the address a
// host text or a look-up names.
#include "tools/shared.h"

#include "model/settings.h"
#include "platform/dialog.h"
#include "platform/gdi.h"
#include "platform/winsock.h"

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

// The IPv4 socket address of `bytes` (network order) with `port`.
static int Ipv4SocketAddress(const void* bytes, unsigned port, sockaddr_storage* address) {
    sockaddr_in ipv4{};
    ipv4.sin_family = AF_INET;
    ipv4.sin_port = htons(static_cast<std::uint16_t>(port));
    std::memcpy(&ipv4.sin_addr.s_addr, bytes, 4);
    *address = sockaddr_storage{};
    std::memcpy(address, &ipv4, sizeof ipv4);
    return sizeof ipv4;
}

static const unsigned char mappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};

int ToolHostAddress(const char* text, unsigned port, sockaddr_storage* address) {
    std::uint32_t ipv4 = inet_addr(text);
    if (ipv4 != INADDR_NONE)
        return Ipv4SocketAddress(&ipv4, port, address);
    char bare[INET6_ADDRSTRLEN + 2];
    std::size_t length = std::strlen(text);
    if (length > INET6_ADDRSTRLEN + 1)
        return 0; // longer than any address, bracketed or not
    if (length >= 2 && text[0] == '[' && text[length - 1] == ']')
        std::snprintf(bare, sizeof bare, "%.*s", static_cast<int>(length - 2), text + 1);
    else
        std::snprintf(bare, sizeof bare, "%s", text);
    addrinfo hints{};
    hints.ai_flags = AI_NUMERICHOST;
    hints.ai_family = AF_INET6;
    addrinfo* found = nullptr;
    if (getaddrinfo(bare, nullptr, &hints, &found) != 0)
        return 0;
    sockaddr_in6 ipv6;
    std::memcpy(&ipv6, found->ai_addr, sizeof ipv6);
    freeaddrinfo(found);
    if (std::memcmp(ipv6.sin6_addr.u.Byte, mappedPrefix, sizeof mappedPrefix) == 0)
        return Ipv4SocketAddress(ipv6.sin6_addr.u.Byte + 12, port, address);
    ipv6.sin6_port = htons(static_cast<std::uint16_t>(port));
    *address = sockaddr_storage{};
    std::memcpy(address, &ipv6, sizeof ipv6);
    return sizeof ipv6;
}

int ToolEntryAddress(const hostent* entry, unsigned port, sockaddr_storage* address) {
    if (entry->h_addr_list == nullptr || entry->h_addr_list[0] == nullptr)
        return 0;
    const char* bytes = entry->h_addr_list[0];
    if (entry->h_length == 4)
        return Ipv4SocketAddress(bytes, port, address);
    if (entry->h_length != 16)
        return 0;
    if (std::memcmp(bytes, mappedPrefix, sizeof mappedPrefix) == 0)
        return Ipv4SocketAddress(bytes + 12, port, address);
    sockaddr_in6 ipv6{};
    ipv6.sin6_family = AF_INET6;
    ipv6.sin6_port = htons(static_cast<std::uint16_t>(port));
    std::memcpy(ipv6.sin6_addr.u.Byte, bytes, 16);
    *address = sockaddr_storage{};
    std::memcpy(address, &ipv6, sizeof ipv6);
    return sizeof ipv6;
}
