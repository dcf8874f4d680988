// The Connect dialog: the host and port typed complete the client's command line, which
// is then started as it stands (no shell).
#include "tools/connect.h"

#include "model/settings.h"
#include "platform/dialog.h"
#include "platform/exec.h"
#include "resources/dialogcommon.h"
#include "tools/lookup.h"
#include "tools/shared.h"

#include <cstdio>
#include <cstring>

using namespace platform;

unsigned connectPort = FTP_PORT;

void CompleteConnectCommand(char* commandLine, unsigned size, const char* host, unsigned port) {
    if (port != FTP_PORT && port != TELNET_PORT)
        AppendText(commandLine, size, " %s %u", host, port);
    else if (std::strstr(commandLine, "portage") != nullptr ||
             std::strstr(commandLine, "PORTAGE") != nullptr)
        AppendText(commandLine, size, " -p %s", host);
    else
        AppendText(commandLine, size, " %s", host);
}

static void StartClient(HWND dialog) {
    GetDlgItemText(dialog, CONNECT_HOST, toolHost, sizeof toolHost);
    bool isNumber = false;
    connectPort = GetDlgItemInt(dialog, CONNECT_PORT, &isNumber, false);
    CompleteConnectCommand(sharedText, sizeof sharedText, toolHost, connectPort);
    WinExec(sharedText, SW_SHOWNORMAL);
    EndDialog(dialog, 1);
}

INT_PTR ConnectDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    (void)lParam;
    switch (message) {
    case WM_INITDIALOG:
        SetDlgItemText(dialog, CONNECT_HOST, toolHost);
        SetDlgItemInt(dialog, CONNECT_PORT, connectPort, false);
        return 1;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
        case 100:
            StartClient(dialog);
            return 1;
        case IDCANCEL:
        case 101:
            EndDialog(dialog, 0);
            return 1;
        default:
            return 0;
        }
    default:
        return AnswerDialogColor(message, wParam);
    }
}

int ShowConnectTool(HWND owner, unsigned defaultPort) {
    connectPort = defaultPort;
    return static_cast<int>(DialogBox(owner, "DLG_CONNECT", ConnectDialogProc));
}

int LaunchTelnetTool(HWND owner) {
    std::snprintf(sharedText, sizeof sharedText, "%s", telnetCommand);
    return ShowConnectTool(owner, TELNET_PORT);
}

int LaunchFtpTool(HWND owner) {
    std::snprintf(sharedText, sizeof sharedText, "%s", ftpCommand);
    return ShowConnectTool(owner, FTP_PORT);
}
