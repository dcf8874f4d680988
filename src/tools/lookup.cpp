// The Lookup tool's dialog and its look-up, which writes the answer into the shared text
// buffer and then into the results box in one piece.
#include "tools/lookup.h"

#include "platform/dialog.h"
#include "platform/winsock.h"
#include "resources/dialogcommon.h"
#include "tools/shared.h"

#include <cstdio>
#include <cstring>

using namespace platform;

char toolHost[TOOL_HOST_LENGTH + 1];

static bool lookupBusy = false; // the dialog's look-up is waiting for the resolver

// Every entry of a null-terminated list, the first after `firstLabel`, the others
// indented to line up under it.
static void AppendList(char** entries, const char* firstLabel, bool dotted) {
    if (entries == nullptr)
        return;
    for (int index = 0; entries[index] != nullptr; ++index) {
        const char* text = entries[index];
        if (dotted) {
            in_addr address;
            std::memcpy(&address.s_addr, entries[index], sizeof address.s_addr);
            text = inet_ntoa(address);
        }
        AppendText(sharedText, sizeof sharedText, "%s%s\r\n", index == 0 ? firstLabel : "         ",
                   text);
    }
}

int LookupHost(const char* text, HWND box) {
    char line[TOOL_HOST_LENGTH + 32];
    std::snprintf(line, sizeof line, "looking up %s\r\n", text);
    SetWindowText(box, line);

    std::uint32_t address = inet_addr(text);
    hostent* entry = address != INADDR_NONE
                         ? gethostbyaddr(reinterpret_cast<const char*>(&address), 4, AF_INET)
                         : gethostbyname(text);
    if (entry == nullptr) {
        std::snprintf(line, sizeof line,
                      address != INADDR_NONE ? "Failed to resolve address %s\r\n"
                                             : "Failed to resolve name %s\r\n",
                      text);
        SetWindowText(box, line);
        return 0;
    }
    sharedText[0] = '\0';
    AppendText(sharedText, sizeof sharedText, "Official name: %s\r\n",
               entry->h_name != nullptr ? entry->h_name : "");
    AppendList(entry->h_addr_list, "IP addr: ", true);
    AppendList(entry->h_aliases, "Aliases: ", false);
    SetWindowText(box, sharedText);
    return 1;
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
    (void)lParam;
    switch (message) {
    case WM_INITDIALOG:
        SetDlgItemText(dialog, LOOKUP_HOST, toolHost);
        ApplyToolFont(dialog, LOOKUP_RESULTS);
        LayoutLookupDialog(dialog);
        return 1;
    case WM_SIZE:
        LayoutLookupDialog(dialog);
        return 1;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
        case TOOL_START_COMMAND:
            if (lookupBusy)
                return 1; // one look-up at a time; it reads toolHost while it waits
            GetDlgItemText(dialog, LOOKUP_HOST, toolHost, sizeof toolHost);
            lookupBusy = true;
            LookupHost(toolHost, GetDlgItem(dialog, LOOKUP_RESULTS));
            lookupBusy = false;
            return 1;
        case IDCANCEL:
        case TOOL_EXIT_COMMAND:
            // Our look-up still waiting ends at once rather than holding the closed
            // dialog open; a wait that is not ours is left alone.
            if (lookupBusy && WSAIsBlocking())
                WSACancelBlockingCall();
            EndDialog(dialog, 1);
            return 1;
        default:
            return 0;
        }
    default:
        return AnswerDialogColor(message, wParam);
    }
}

int ShowLookupTool(HWND owner) {
    return static_cast<int>(DialogBox(owner, "DLG_LOOKUP", LookupDialogProc));
}
