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

// Every entry of a null-terminated list, the first after `firstLabel`, the others
// indented to line up under it.
static void AppendList(char* const* entries, const char* firstLabel, bool dotted) {
    if (entries == nullptr)
        return;
    for (int index = 0; entries[index] != nullptr; ++index) {
        const char* text = entries[index];
        if (dotted) {
            in_addr address;
            std::memcpy(&address.s_addr, entries[index], sizeof address.s_addr);
            text = inet_ntoa(address);
        }
        AppendText(lookupTool.shown, sizeof lookupTool.shown, "%s%s\r\n",
                   index == 0 ? firstLabel : "         ", text);
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
    std::uint32_t address = inet_addr(lookupTool.text);
    lookupTool.byAddress = address != INADDR_NONE;
    lookupTool.task =
        lookupTool.byAddress
            ? WSAAsyncGetHostByAddr(lookupTool.window, WM_TOOL_LOOKUP_DONE,
                                    reinterpret_cast<const char*>(&address), 4, AF_INET,
                                    lookupTool.answer, sizeof lookupTool.answer)
            : WSAAsyncGetHostByName(lookupTool.window, WM_TOOL_LOOKUP_DONE, lookupTool.text,
                                    lookupTool.answer, sizeof lookupTool.answer);
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
    AppendList(entry->h_addr_list, "IP addr: ", true);
    AppendList(entry->h_aliases, "Aliases: ", false);
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
