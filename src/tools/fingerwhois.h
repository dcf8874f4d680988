// The finger and whois clients: modeless windows that send one request line to TCP port 79
// or 43 and read the answer piece by piece as the stack reports it (WM_SOCKET_NOTIFY),
// appended to the results box until the server closes, or cut after its first 64 KiB.
// Owns both windows, their sockets and WHOISHOST.
#pragma once

#include "platform/types.h"
#include "platform/window.h"
#include "platform/winsock.h"
#include "resources/dialogs_tools1.h"
#include "tools/shared.h"

constexpr platform::UINT WM_SOCKET_NOTIFY = 1181; // data to read, or the server closed
constexpr unsigned FINGER_PORT = 79;
constexpr unsigned WHOIS_PORT = 43;
constexpr unsigned QUERY_TEXT_LENGTH = 98;    // a finger string or a whois search string
constexpr unsigned WHOIS_SERVER_LENGTH = 144; // the server as typed
constexpr unsigned WHOIS_SETTING_LENGTH = 94; // the server as read from WHOISHOST
constexpr unsigned RECEIVE_SIZE = 256;        // one piece of an answer
constexpr unsigned ANSWER_LIMIT = 64 * 1024;  // bytes of an answer shown; then "(output cut)"

extern const char* const DEFAULT_WHOIS_SERVER; // "whois.iana.org"

extern char fingerQuery[QUERY_TEXT_LENGTH + 1]; // the last finger string, offered again
extern char fingerHost[QUERY_TEXT_LENGTH + 1];  // its server part
extern char whoisQuery[QUERY_TEXT_LENGTH + 1];  // the last search string
extern char whoisServer[WHOIS_SERVER_LENGTH + 1];
// Open from the connect until the answer is complete, the next query or the dialog's end.
extern platform::SOCKET fingerSocket;
extern platform::SOCKET whoisSocket;

// Splits a finger string at its first "@": the server after it, the request the part
// before it (or nothing, without an "@") followed by CR LF.
void FormFingerRequest(const char* text, char* host, unsigned hostSize, char* request,
                       unsigned requestSize);

// Start a query in the open window, replacing one under way: the server's look-up, the
// connect, the request sent and the answer, each step told in the results box as the
// messages that end them come to the window.
void FingerQuery(const char* text);
void WhoisQuery(const char* server, const char* request);

// The resize rule of both dialogs.
void LayoutQueryDialog(platform::HWND dialog, bool whois);

platform::INT_PTR FingerDialogProc(platform::HWND dialog, platform::UINT message,
                                   platform::WPARAM wParam, platform::LPARAM lParam);
platform::INT_PTR WhoisDialogProc(platform::HWND dialog, platform::UINT message,
                                  platform::WPARAM wParam, platform::LPARAM lParam);

// Open the windows ("DLG_FINGER", "DLG_WHOIS"), or bring the open one forward. 1 when it
// is open.
int ShowFingerTool(platform::HWND owner);
int ShowWhoisTool(platform::HWND owner);
// True when neither window is open.
bool QueryWindowsClosed();
