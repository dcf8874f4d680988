// The finger and whois clients: one request line to TCP port 79 or 43, the answer read
// piece by piece as the stack reports it (WM_SOCKET_NOTIFY) and appended to the dialog's
// results box until the server closes, or cut after its first 64 KiB. Owns both dialogs, their
// sockets and WHOISHOST.
#pragma once

#include "platform/types.h"
#include "platform/window.h"
#include "platform/winsock.h"
#include "resources/dialogs_tools1.h"

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

// Resolve, connect, send the request and take the first piece of the answer; the rest
// arrives as WM_SOCKET_NOTIFY to `dialog`. 1 when the request was sent, 0 on a failure
// before (told in `box`).
int FingerQuery(platform::HWND dialog, const char* text, platform::HWND box);
int WhoisQuery(platform::HWND dialog, const char* server, const char* request, platform::HWND box);

// The resize rule of both dialogs.
void LayoutQueryDialog(platform::HWND dialog, bool whois);

platform::INT_PTR FingerDialogProc(platform::HWND dialog, platform::UINT message,
                                   platform::WPARAM wParam, platform::LPARAM lParam);
platform::INT_PTR WhoisDialogProc(platform::HWND dialog, platform::UINT message,
                                  platform::WPARAM wParam, platform::LPARAM lParam);

// Run the modal dialogs ("DLG_FINGER", "DLG_WHOIS").
int ShowFingerTool(platform::HWND owner);
int ShowWhoisTool(platform::HWND owner);
