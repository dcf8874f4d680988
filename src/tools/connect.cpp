// The Connect dialog: the client's command line split into words, then the host and port
// typed, each one argument (no shell).
#include "tools/connect.h"

#include "model/settings.h"
#include "monitor/programs.h"
#include "platform/dialog.h"
#include "resources/dialogcommon.h"
#include "tools/lookup.h"
#include "tools/shared.h"

#include <cstdio>
#include <cstring>

using namespace platform;

unsigned connectPort = FTP_PORT;

int ConnectArguments(const char* command, const char* host, unsigned port, char* portText,
                     unsigned portSize, const char* arguments[CONNECT_ARGUMENTS]) {
    if (host[0] == '\0')
        return 0;
    if (port != FTP_PORT && port != TELNET_PORT) {
        std::snprintf(portText, portSize, "%u", port);
        arguments[0] = host;
        arguments[1] = portText;
        return 2;
    }
    if (std::strstr(command, "portage") == nullptr && std::strstr(command, "PORTAGE") == nullptr) {
        arguments[0] = host;
        return 1;
    }
    arguments[0] = "-p";
    arguments[1] = host;
    return 2;
}

// The host goes to the client as an argument of its own; one that looks like an option
// would be taken for one, so it is refused.
static void StartClient(HWND dialog) {
    GetDlgItemText(dialog, CONNECT_HOST, toolHost, sizeof toolHost);
    bool isNumber = false;
    unsigned port = GetDlgItemInt(dialog, CONNECT_PORT, &isNumber, false);
    if (isNumber)
        connectPort = port; // an empty field keeps the client's own port
    char program[COMMAND_LENGTH + 1];
    std::snprintf(program, sizeof program, "%.*s",
                  static_cast<int>(std::strcspn(sharedText, " \t")), sharedText);
    if (!IsPlainArgument(toolHost)) {
        char reason[sizeof toolHost + 48];
        std::snprintf(reason, sizeof reason, "\"%s\" is no plain host name or address", toolHost);
        TellProgramNotStarted(program, reason);
        EndDialog(dialog, 0);
        return;
    }
    char portText[16];
    const char* arguments[CONNECT_ARGUMENTS];
    int count =
        ConnectArguments(sharedText, toolHost, connectPort, portText, sizeof portText, arguments);
    bool started = StartProgram({sharedText, arguments, count, nullptr, SW_SHOWNORMAL});
    EndDialog(dialog, started ? 1 : 0);
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
        case TOOL_START_COMMAND:
            StartClient(dialog);
            return 1;
        case IDCANCEL:
        case TOOL_EXIT_COMMAND:
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
    std::snprintf(sharedText, sizeof sharedText, "%s", options.telnetCommand);
    return ShowConnectTool(owner, TELNET_PORT);
}

int LaunchFtpTool(HWND owner) {
    std::snprintf(sharedText, sizeof sharedText, "%s", options.ftpCommand);
    return ShowConnectTool(owner, FTP_PORT);
}
