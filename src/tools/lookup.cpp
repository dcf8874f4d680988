// The Lookup window and its look-up on the resolver's workers; the answer is laid out as
// text and put into the results box in one piece.
#include "tools/lookup.h"

#include "platform/dialog.h"
#include "platform/winsock.h"
#include "resources/dialogcommon.h"
#include "tools/shared.h"

#include <cstdio>
#include <cstring>

using namespace platform;

char toolHost[TOOL_HOST_LENGTH + 1];

LookupTool lookupTool{};

// The text of one address of a host entry: dotted for IPv4 and IPv4-mapped addresses,
// the standard short form for other IPv6 ones.
static const char* AddressText(const char* bytes, int length, char* text, std::size_t size) {
    static const unsigned char mappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    if (length == 16 && std::memcmp(bytes, mappedPrefix, sizeof mappedPrefix) == 0)
        return inet_ntop(AF_INET, bytes + 12, text, size);
    return inet_ntop(length == 16 ? AF_INET6 : AF_INET, bytes, text, size);
}

// Every entry of a null-terminated list, the first after `firstLabel`, the others
// indented to line up under it; addresses (of `addressLength` bytes) as text.
static void AppendList(char* const* entries, const char* firstLabel, int addressLength) {
    if (entries == nullptr)
        return;
    for (int index = 0; entries[index] != nullptr; ++index) {
        char address[INET6_ADDRSTRLEN];
        const char* text = addressLength == 0 ? entries[index]
                                              : AddressText(entries[index], addressLength, address,
                                                            sizeof address);
        AppendText(lookupTool.shown, sizeof lookupTool.shown, "%s%s\r\n",
                   index == 0 ? firstLabel : "         ", text != nullptr ? text : "");
    }
}

// Calls off the look-up under way, if any: its answer never comes.
static void CancelLookup() {
    if (lookupTool.task != 0)
        WSACancelAsyncRequest(lookupTool.task);
    lookupTool.task = 0;
}

static void ShowLookupLine(const char* format, const char* text) {
    char line[TOOL_HOST_LENGTH + 32];
    std::snprintf(line, sizeof line, format, text);
    SetDlgItemText(lookupTool.window, LOOKUP_RESULTS, line);
}

void StartLookup(const char* text) {
    CancelLookup();
    std::snprintf(lookupTool.text, sizeof lookupTool.text, "%s", text);
    ShowLookupLine("looking up %s\r\n", lookupTool.text);
    sockaddr_storage address;
    int length = ToolHostAddress(lookupTool.text, 0, &address);
    lookupTool.byAddress = length != 0;
    if (length == sizeof(sockaddr_in6))
        lookupTool.task =
            WSAAsyncGetHostByAddr(lookupTool.window, WM_TOOL_LOOKUP_DONE,
                                  reinterpret_cast<const char*>(
                                      &reinterpret_cast<const sockaddr_in6*>(&address)->sin6_addr),
                                  16, AF_INET6, lookupTool.answer, sizeof lookupTool.answer);
    else if (length != 0)
        lookupTool.task =
            WSAAsyncGetHostByAddr(lookupTool.window, WM_TOOL_LOOKUP_DONE,
                                  reinterpret_cast<const char*>(
                                      &reinterpret_cast<const sockaddr_in*>(&address)->sin_addr),
                                  4, AF_INET, lookupTool.answer, sizeof lookupTool.answer);
    else
        lookupTool.task = WSAAsyncGetHostByNameAllFamilies(lookupTool.window, WM_TOOL_LOOKUP_DONE,
                                                           lookupTool.text, lookupTool.answer,
                                                           sizeof lookupTool.answer);
    if (lookupTool.task == 0)
        ShowLookupLine(lookupTool.byAddress ? "Failed to resolve address %s\r\n"
                                            : "Failed to resolve name %s\r\n",
                       lookupTool.text);
}

// WM_TOOL_LOOKUP_DONE: the answer, or the failure line, replaces the box's text.
static void OnLookupDone(WPARAM wParam, LPARAM lParam) {
    if (lookupTool.task == 0 || reinterpret_cast<HANDLE>(wParam) != lookupTool.task)
        return; // a look-up called off since
    lookupTool.task = 0;
    if (WSAGETASYNCERROR(lParam) != 0) {
        ShowLookupLine(lookupTool.byAddress ? "Failed to resolve address %s\r\n"
                                            : "Failed to resolve name %s\r\n",
                       lookupTool.text);
        return;
    }
    const auto* entry = reinterpret_cast<const hostent*>(lookupTool.answer);
    lookupTool.shown[0] = '\0';
    AppendText(lookupTool.shown, sizeof lookupTool.shown, "Official name: %s\r\n",
               entry->h_name != nullptr ? entry->h_name : "");
    AppendList(entry->h_addr_list, "IP addr: ", entry->h_length);
    AppendList(entry->h_aliases, "Aliases: ", 0);
    SetDlgItemText(lookupTool.window, LOOKUP_RESULTS, lookupTool.shown);
}

void LayoutLookupDialog(HWND dialog) {
    RECT client;
    GetClientRect(dialog, &client);
    PlaceToolButtons(dialog, client);
    ResizeControl(dialog, LOOKUP_HOST, client.right / 2, -1);
    RECT results;
    if (GetControlRect(dialog, LOOKUP_RESULTS, &results))
        ResizeControl(dialog, LOOKUP_RESULTS, client.right - 2 * results.left,
                      client.bottom - results.top - results.left);
}

INT_PTR LookupDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        lookupTool.window = dialog;
        SetDlgItemText(dialog, LOOKUP_HOST, toolHost);
        ApplyToolFont(dialog, LOOKUP_RESULTS);
        LayoutLookupDialog(dialog);
        return 1;
    case WM_SIZE:
        LayoutLookupDialog(dialog);
        return 1;
    case WM_TOOL_LOOKUP_DONE:
        OnLookupDone(wParam, lParam);
        return 1;
    case WM_DESTROY:
        CancelLookup();
        lookupTool.window = 0;
        return 0;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
        case TOOL_START_COMMAND:
            GetDlgItemText(dialog, LOOKUP_HOST, toolHost, sizeof toolHost);
            StartLookup(toolHost);
            return 1;
        case IDCANCEL:
        case TOOL_EXIT_COMMAND:
            DestroyWindow(dialog); // calls off a look-up under way
            return 1;
        default:
            return 0;
        }
    default:
        return AnswerDialogColor(message, wParam);
    }
}

int ShowLookupTool(HWND owner) {
    return OpenToolWindow(owner, "DLG_LOOKUP", LookupDialogProc, &lookupTool.window) ? 1 : 0;
}
