// The ping tool: a modal dialog that sends pingCount echo requests to one host, through the
// ICMP library in one synchronous loop or through a raw socket one request per second on
// the dialog's timer, and prints a line per answer and the run's statistics. Also the
// layout shared with the traceroute dialog, the tool settings and the tools' stop flag.
#pragma once

#include "platform/types.h"
#include "platform/window.h"
#include "platform/winsock.h"
#include "resources/dialogs_tools2.h"

/*** commands, messages and limits (shared with the traceroute dialog) ***/

constexpr unsigned TOOL_EXIT_COMMAND = 101; // ends the dialog like "E&xit"

constexpr unsigned ECHO_HOST_LENGTH = 98; // the ping and trace host text, without its terminator

constexpr unsigned WM_PING_DONE = 2019;      // posted to the ping dialog when a raw run ends
constexpr unsigned BLOCK_SEND_TIMER_ID = 30; // the ping dialog's one-second tick in raw mode
constexpr unsigned BLOCK_SEND_PERIOD = 1000; // milliseconds
constexpr unsigned DEFAULT_PING_COUNT = 5;

/*** globals ***/

// Tool settings, changed by the Tool Options dialog; none is stored in a settings file.
// Every echo of the ping and trace waits waitTimeout (WAIT), which that dialog shows too.
extern unsigned pingCount; // requests of one ping run

// Set by "E&xit" (and by a new start) so a raw run or trace stops at its next step.
extern int toolStopRequested;

// The Tool Options dialog behind both dialogs' "&Options" button. It is one of the
// preference dialogs, which sit above this folder; the shell connects it at start.
// Unset: the button does nothing.
extern int (*toolOptionsDialog)(platform::HWND owner);

// The ping's host text, set by whoever opens the dialog and kept between its runs.
extern char pingHostText[ECHO_HOST_LENGTH + 1];
extern platform::sockaddr_in pingDestination;
extern platform::SOCKET pingSocket; // the raw run's socket; INVALID_SOCKET when none is open

/*** entry point ***/

// Opens the ping dialog over `owner` with `host` (null: empty) as host text; a host text
// starts a run at once. The poll countdown is stopped while it is open. Returns the
// dialog's result.
int ShowPingTool(platform::HWND owner, const char* host);

/*** the dialog and its two modes ***/

platform::INT_PTR PingDialogProc(platform::HWND dialog, platform::UINT message,
                                 platform::WPARAM wParam, platform::LPARAM lParam);

// Stacks the three buttons at the right edge and lets the host and results boxes follow
// the dialog's size (ping and traceroute dialogs).
void LayoutToolDialog(platform::HWND dialog);

// Fills `destination` for `host`: a dotted address as it stands, else the first address
// a name look-up gives. False when neither works.
bool ResolveToolHost(const char* host, platform::sockaddr_in* destination);

// Library mode: resolves and runs the whole ping before returning.
void StartLibraryPing(platform::HWND dialog, const char* host, platform::HWND resultsBox);
void PingWithLibrary(platform::HWND dialog, const platform::sockaddr_in* destination);

// Raw mode: opens the socket, prints the header and arms the tick; the ticks send and
// wait; WM_PING_DONE closes the socket and prints the statistics.
void StartRawPing(platform::HWND dialog);
void OnPingTimer(platform::HWND dialog, platform::UINT_PTR timerId);
void FinishRawPing(platform::HWND dialog);
void PrintPingHeader(const platform::sockaddr_in* destination, unsigned dataLength);
void PrintPingStatistics();

/*** shared with the traceroute dialog ***/

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
// One formatted line through AppendToolLine into toolOutputBox (at most 511 characters).
__attribute__((format(printf, 1, 2))) void PrintToolLine(const char* format, ...);
// Replaces the whole text of `box` with a formatted text.
__attribute__((format(printf, 2, 3))) void SetToolBoxText(platform::HWND box, const char* format,
                                                          ...);
// The dotted form of an address in network order.
const char* DottedAddress(std::uint32_t address);
