// The Connect launcher: starts the telnet or FTP client whose command the Tools menu put
// into the shared text buffer, with the host and, for other ports than 21 and 23, the port
// typed in the dialog as arguments of their own.
#pragma once

#include "platform/types.h"
#include "platform/window.h"
#include "resources/dialogs_tools1.h"

constexpr unsigned TELNET_PORT = 23;
constexpr unsigned FTP_PORT = 21;

// The port the dialog shows; set by the launcher, replaced by the port typed.
extern unsigned connectPort;

constexpr unsigned CONNECT_ARGUMENTS = 2;

// The arguments that follow the client's command for `host` and `port`: host and port for
// ports other than 21 and 23; "-p" and host for a client whose command names "portage" or
// "PORTAGE"; otherwise the host alone; nothing without a host. `portText` receives the
// port's digits. Returns how many were put into `arguments`.
int ConnectArguments(const char* command, const char* host, unsigned port, char* portText,
                     unsigned portSize, const char* arguments[CONNECT_ARGUMENTS]);

platform::INT_PTR ConnectDialogProc(platform::HWND dialog, platform::UINT message,
                                    platform::WPARAM wParam, platform::LPARAM lParam);

// Runs "DLG_CONNECT" on the command already in the shared text buffer, proposing
// `defaultPort`; an empty port field stands for it. 1 when a program was started, 0 on
// Cancel or when it could not be started (which is told).
int ShowConnectTool(platform::HWND owner, unsigned defaultPort);

// The Tools menu's "Telnet..." and "FTP...": the TELNET or FTP command into the shared
// text buffer, then the Connect dialog with port 23 or 21.
int LaunchTelnetTool(platform::HWND owner);
int LaunchFtpTool(platform::HWND owner);
