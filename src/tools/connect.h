// The Connect launcher: a modeless window that starts the telnet or FTP client the Tools
// menu chose, with the host and, for other ports than 21 and 23, the port typed in the
// window as arguments of their own.
#pragma once

#include "model/settings.h"
#include "platform/types.h"
#include "platform/window.h"
#include "resources/dialogs_tools1.h"

constexpr unsigned TELNET_PORT = 23;
constexpr unsigned FTP_PORT = 21;

// The Connect window and the client it starts.
struct ConnectTool {
    platform::HWND window;            // open from WM_INITDIALOG to WM_DESTROY; 0 when closed
    char command[COMMAND_LENGTH + 1]; // the client's command line, from the settings
    unsigned port;                    // the port shown; replaced by the port typed
};
extern ConnectTool connectTool;

constexpr unsigned CONNECT_ARGUMENTS = 2;

// The arguments that follow the client's command for `host` and `port`: host and port for
// ports other than 21 and 23; "-p" and host for a client whose command names "portage" or
// "PORTAGE"; otherwise the host alone; nothing without a host. `portText` receives the
// port's digits. Returns how many were put into `arguments`.
int ConnectArguments(const char* command, const char* host, unsigned port, char* portText,
                     unsigned portSize, const char* arguments[CONNECT_ARGUMENTS]);

platform::INT_PTR ConnectDialogProc(platform::HWND dialog, platform::UINT message,
                                    platform::WPARAM wParam, platform::LPARAM lParam);

// Opens "DLG_CONNECT" for `command`, proposing `defaultPort` (an empty port field stands
// for it), or gives the open window this client and port and brings it forward. OK starts
// the client (a failure is told) and closes the window. 1 when the window is open.
int ShowConnectTool(platform::HWND owner, const char* command, unsigned defaultPort);

// The Tools menu's "Telnet..." and "FTP...": the Connect window for the TELNET or FTP
// command with port 23 or 21.
int LaunchTelnetTool(platform::HWND owner);
int LaunchFtpTool(platform::HWND owner);
