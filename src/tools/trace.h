// The traceroute tool: a modeless window that lists the routers on the way to a host, by
// echo requests with a rising time-to-live through the ICMP library or a raw socket, a line
// per hop as its answer comes, ending in "host reached" or "not reached".
#pragma once

#include "platform/icmplib.h"
#include "platform/types.h"
#include "platform/window.h"
#include "platform/winsock.h"

#include "tools/ping.h"

// The time-to-live is one byte: no trace goes further, whatever Tool Options says.
constexpr unsigned TRACE_HOPS_LIMIT = 255;
constexpr unsigned LIBRARY_TRACE_HOP_END = 30;     // library mode probes hops 1 to 29
constexpr unsigned LIBRARY_HOP_TIMEOUT = 3000;     // ms for each hop's echo in library mode
constexpr platform::DWORD TRACE_TIMED_OUT = 11010; // "timed out": the trace goes on

/*** globals ***/

// Where a trace stands; each step ends with a message.
enum TracePhase {
    TRACE_IDLE = 0,
    TRACE_TARGET_LOOKUP, // the target's address is looked up
    TRACE_FIRST_ECHO,    // library mode: the echo without a time-to-live
    TRACE_LIBRARY_HOP,   // library mode: one of a hop's three echoes
    TRACE_RAW_HOP,       // raw mode: a hop's request awaits its answer
    TRACE_HOP_NAME,      // a router's name is looked up for its line
};

// The trace window and its run: the host it traces, separate from the ping's and kept
// between the runs of one opening, and the hop under way with what its line needs.
struct TraceRun {
    char hostText[ECHO_HOST_LENGTH + 1];
    platform::sockaddr_storage destination; // the host text's address, of either family
    platform::HWND window;                  // open from WM_INITDIALOG to WM_DESTROY; 0 when closed
    TracePhase phase;
    int library;               // the run goes through the ICMP library
    platform::HANDLE lookup;   // the target's or a router's look-up under way; 0 when none
    unsigned hop;              // the time-to-live probed
    unsigned echoes;           // library mode: the hop's echoes ended so far
    platform::DWORD status;    // of the last hop (0: the host answered)
    platform::DWORD previous;  // library mode: the last hop's round trip
    LibraryEchoSet echo;       // library mode: open from the first echo to the trace's end
    int echoOpen;              // the echo set is open
    platform::SOCKET socket;   // raw mode: open until the trace's end
    std::uint16_t sequence;    // raw mode: of the request awaited
    int routerType;            // raw mode: the ICMP type of the router's answer
    char line[TOOL_LINE_SIZE]; // raw mode: a router's line waiting for its name
    char name[256];            // the status text or name of a library hop's line
    unsigned char request[TRACE_REQUEST_SIZE];
    unsigned char reply[TRACE_REPLY_SIZE];
    alignas(platform::hostent) char hostEntry[platform::MAXGETHOSTSTRUCT];
};
extern TraceRun traceRun;

/*** entry point ***/

// Opens the traceroute window over `owner` with `host` (null: empty) as host text, or
// brings the open one forward with it; a host text starts the trace at once. Monitoring
// goes on meanwhile. 1 when the window is open.
int ShowTraceTool(platform::HWND owner, const char* host);
