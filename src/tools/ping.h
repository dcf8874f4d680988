// The ping tool: a modal dialog that sends the Tool Options count of echo requests to one
// host, through the ICMP library in one synchronous loop or through a raw socket one
// request per second on the dialog's timer, and prints a line per answer and the run's
// statistics. Also the layout and buttons shared with the traceroute dialog.
#pragma once

#include "icmp/icmplib.h"
#include "icmp/rawecho.h"
#include "platform/types.h"
#include "platform/window.h"
#include "platform/winsock.h"
#include "resources/dialogs_tools2.h"

/*** commands, messages and limits (shared with the traceroute dialog) ***/

constexpr unsigned ECHO_HOST_LENGTH = 98; // the ping and trace host text, without its terminator

constexpr unsigned WM_PING_DONE = 2019;      // posted to the ping dialog when a raw run ends
constexpr unsigned BLOCK_SEND_TIMER_ID = 30; // the ping dialog's one-second tick in raw mode
constexpr unsigned BLOCK_SEND_PERIOD = 1000; // milliseconds

/*** globals ***/

// The ping tool's run: the host it asks, and a raw run's socket, tick and counts. The host
// text is set by whoever opens the dialog and kept between its runs; a raw run lives
// between StartRawPing and FinishRawPing.
struct PingRun {
    char hostText[ECHO_HOST_LENGTH + 1];
    platform::sockaddr_in destination; // the host text's address
    platform::SOCKET socket;           // the raw run's socket; INVALID_SOCKET when none is open
    unsigned number;                   // WM_PING_DONE names its run; a replaced run's is ignored
    int rawActive;                     // from StartRawPing until FinishRawPing or the dialog's end
    // Set while one of our socket calls may be dispatching messages (a wait or a look-up),
    // so that a click arriving meanwhile knows the blocking call in progress is ours to cancel.
    int callInProgress;
    PingStatistics statistics; // the raw run's requests, replies and round trips
    // The raw run's request and reply, as large as any echo the engine sends or takes.
    unsigned char request[ECHO_BUFFER_SIZE];
    unsigned char reply[ECHO_BUFFER_SIZE];
};
extern PingRun pingRun;

// The Tool Options dialog behind both dialogs' "&Options" button. It is one of the
// preference dialogs, which sit above this folder; the shell connects it at start.
// Unset: the button does nothing.
extern int (*toolOptionsDialog)(platform::HWND owner);

/*** entry point ***/

// Opens the ping dialog over `owner` with `host` (null: empty) as host text; a host text
// starts a run at once. The poll countdown is stopped while it is open. Returns the
// dialog's result.
int ShowPingTool(platform::HWND owner, const char* host);

/*** shared with the traceroute dialog ***/

// Stacks the three buttons at the right edge and lets the host and results boxes follow
// the dialog's size.
void LayoutToolDialog(platform::HWND dialog);
// The tool dialogs' fixed-pitch results box, when the FIXFONT option asks for it.
void ApplyToolFont(platform::HWND dialog);
// Posts a click on the start button, so a run begins once the current message is done.
void PostStartClick(platform::HWND dialog);
// The buttons both dialogs share: `start` for the start button, `end` for Exit and
// Escape, the Tool Options dialog for Options.
void OnToolCommand(platform::HWND dialog, platform::WPARAM wParam, void (*start)(platform::HWND),
                   void (*end)(platform::HWND));
// Reads the host box into `hostText` (ECHO_HOST_LENGTH + 1 bytes) and selects its text.
void TakeHostText(platform::HWND dialog, char* hostText);
// Replaces the whole text of `box` with a formatted text.
__attribute__((format(printf, 2, 3))) void SetToolBoxText(platform::HWND box, const char* format,
                                                          ...);
// Fills `destination` for `host`: a dotted address as it stands, else the first address
// a name look-up gives. False when neither works.
bool ResolveToolHost(const char* host, platform::sockaddr_in* destination);
// The dotted form of an address in network order.
const char* DottedAddress(std::uint32_t address);
// Opens the library's echo set for a tool run; a reply buffer that cannot be allocated is
// told in the results box. True when the set is open.
bool OpenToolEchoSet(LibraryEchoSet* set);
