// The Connect window: the client's command line split into words, then the host and port
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

ConnectTool connectTool{0, "", FTP_PORT};

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
        connectTool.port = port; // an empty field keeps the client's own port
    const char* command = connectTool.command;
    char program[COMMAND_LENGTH + 1];
    std::snprintf(program, sizeof program, "%.*s", static_cast<int>(std::strcspn(command, " \t")),
                  command);
    if (!IsPlainArgument(toolHost)) {
        char reason[sizeof toolHost + 48];
        std::snprintf(reason, sizeof reason, "\"%s\" is no plain host name or address", toolHost);
        TellProgramNotStarted(program, reason);
        DestroyWindow(dialog);
        return;
    }
    // Clients take an IPv6 address bare; the brackets are for the field alone.
    char host[sizeof toolHost];
    sockaddr_storage address;
    std::size_t length = std::strlen(toolHost);
    if (toolHost[0] == '[' && ToolHostAddress(toolHost, 0, &address) != 0)
        std::snprintf(host, sizeof host, "%.*s", static_cast<int>(length - 2), toolHost + 1);
    else
        std::snprintf(host, sizeof host, "%s", toolHost);
    char portText[16];
    const char* arguments[CONNECT_ARGUMENTS];
    int count =
        ConnectArguments(command, host, connectTool.port, portText, sizeof portText, arguments);
    StartProgram({command, arguments, count, nullptr, SW_SHOWNORMAL});
    DestroyWindow(dialog);
}

INT_PTR ConnectDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    (void)lParam;
    switch (message) {
    case WM_INITDIALOG:
        connectTool.window = dialog;
        SetDlgItemText(dialog, CONNECT_HOST, toolHost);
        SetDlgItemInt(dialog, CONNECT_PORT, connectTool.port, false);
        return 1;
    case WM_DESTROY:
        connectTool.window = 0;
        return 0;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
        case TOOL_START_COMMAND:
            StartClient(dialog);
            return 1;
        case IDCANCEL:
        case TOOL_EXIT_COMMAND:
            DestroyWindow(dialog);
            return 1;
        default:
            return 0;
        }
    default:
        return AnswerDialogColor(message, wParam);
    }
}

int ShowConnectTool(HWND owner, const char* command, unsigned defaultPort) {
    std::snprintf(connectTool.command, sizeof connectTool.command, "%s", command);
    connectTool.port = defaultPort;
    if (connectTool.window != 0)
        SetDlgItemInt(connectTool.window, CONNECT_PORT, connectTool.port, false);
    return OpenToolWindow(owner, "DLG_CONNECT", ConnectDialogProc, &connectTool.window) ? 1 : 0;
}

int LaunchTelnetTool(HWND owner) {
    return ShowConnectTool(owner, options.telnetCommand, TELNET_PORT);
}

int LaunchFtpTool(HWND owner) {
    return ShowConnectTool(owner, options.ftpCommand, FTP_PORT);
}
