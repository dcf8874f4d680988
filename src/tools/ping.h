// The ping tool: a modeless window that sends the Tool Options count of echo requests to
// one host, through the ICMP library one echo after the other or through a raw socket one
// request per second, and prints a line as each answer comes and the run's statistics.
// Also the layout, buttons and host look-up shared with the traceroute window.
#pragma once

#include "icmp/icmplib.h"
#include "icmp/rawecho.h"
#include "platform/types.h"
#include "platform/window.h"
#include "platform/winsock.h"
#include "resources/dialogs_tools2.h"
#include "tools/shared.h"

/*** commands, messages and limits (shared with the traceroute window) ***/

constexpr unsigned ECHO_HOST_LENGTH = 98; // the ping and trace host text, without its terminator

constexpr unsigned WM_PING_DONE = 2019;      // posted to the ping window when a raw run ends
constexpr unsigned BLOCK_SEND_TIMER_ID = 30; // the ping window's one-second tick in raw mode
constexpr unsigned BLOCK_SEND_PERIOD = 1000; // milliseconds
constexpr unsigned ANSWER_TIMER_ID = 31;     // ends a raw request's wait for its answer

/*** globals ***/

// The ping window and its run: the host it asks, the host's look-up, and the run in the
// selected mode. A library run sends its echoes one after the other, each when the end of
// the one before is posted; a raw run sends one request a tick and takes the answer as the
// socket's events tell it, one request awaited at a time. The host text is set by whoever
// opens the window and kept between its runs.
struct PingRun {
    char hostText[ECHO_HOST_LENGTH + 1];
    platform::sockaddr_storage destination; // the host text's address, of either family
    platform::HWND window;                  // open from WM_INITDIALOG to WM_DESTROY; 0 when closed
    platform::HANDLE lookup;                // the host's look-up under way; 0 when none
    int library;                            // the run in progress goes through the ICMP library
    int libraryActive;                      // from the first echo to the statistics
    LibraryEchoSet echo;                    // the library run's set, open while it is active
    platform::SOCKET socket;   // the raw run's socket; INVALID_SOCKET when none is open
    unsigned number;           // WM_PING_DONE names its run; a replaced run's is ignored
    int rawActive;             // from the raw run's first tick until its statistics
    int awaiting;              // a raw request's answer is awaited
    int lastChance;            // the raw run's last wait, after its last tick
    PingStatistics statistics; // the run's requests, replies and round trips
    // The raw run's request and reply, as large as any echo the engine sends or takes.
    unsigned char request[ECHO_BUFFER_SIZE];
    unsigned char reply[ECHO_BUFFER_SIZE];
    alignas(platform::hostent) char hostEntry[platform::MAXGETHOSTSTRUCT]; // the look-up's answer
};
extern PingRun pingRun;

// The Tool Options dialog behind both windows' "&Options" button. It is one of the
// preference dialogs, which sit above this folder; the shell connects it at start.
// Unset: the button does nothing.
extern int (*toolOptionsDialog)(platform::HWND owner);

/*** entry point ***/

// Opens the ping window over `owner` with `host` (null: empty) as host text, or brings the
// open one forward with it; a host text starts a run at once. Monitoring goes on meanwhile.
// 1 when the window is open.
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
// How the address of a tool's host is found: an IPv4 or IPv6 address at once, a name on the
// resolver's workers, answered by WM_TOOL_LOOKUP_DONE to the tool's window.
enum ToolHostLookup { TOOL_HOST_RESOLVED, TOOL_HOST_LOOKING_UP, TOOL_HOST_FAILED };
// Starts finding the address of `host` into `destination`; a look-up of both families lays
// its answer out in `entry` (MAXGETHOSTSTRUCT bytes) and keeps its task in `*task`. An empty
// host fails.
ToolHostLookup StartToolHostLookup(platform::HWND window, const char* host,
                                   platform::sockaddr_storage* destination, char* entry,
                                   platform::HANDLE* task);
// On WM_TOOL_LOOKUP_DONE (long parameter `lParam`) of that look-up: true with the first
// address of the answer in `destination`.
bool TakeToolHostLookup(platform::LPARAM lParam, const char* entry,
                        platform::sockaddr_storage* destination);
// Calls off the look-up of `*task`, if any.
void CancelToolLookup(platform::HANDLE* task);
// Whether a tool's destination is an IPv6 address.
bool IsIpv6Destination(const platform::sockaddr_storage& destination);
// Opens the library's echo set for a tool run to `destination`; a reply buffer that cannot
// be allocated is told in the results box. True when the set is open.
bool OpenToolEchoSet(LibraryEchoSet* set, const platform::sockaddr_storage& destination);
