// The traceroute tool: a modal dialog that lists the routers on the way to a host, by echo
// requests with a rising time-to-live through the ICMP library or a raw socket, one line
// per hop, ending in "host reached" or "not reached".
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

// The trace tool's run: the host it traces, separate from the ping's and kept between the
// runs of one opening, and a raw trace's request and reply.
struct TraceRun {
    char hostText[ECHO_HOST_LENGTH + 1];
    platform::sockaddr_in destination; // the host text's address
    int inProgress;                    // inside StartTrace
    // Set while one of our socket calls may be dispatching messages (a wait or a look-up),
    // so that a click arriving meanwhile knows the blocking call in progress is ours to cancel.
    int callInProgress;
    unsigned char request[TRACE_REQUEST_SIZE];
    unsigned char reply[TRACE_REPLY_SIZE];
};
extern TraceRun traceRun;

/*** entry point ***/

// Opens the traceroute dialog over `owner` with `host` (null: empty) as host text; a host
// text starts the trace at once. The poll countdown is stopped while it is open.
int ShowTraceTool(platform::HWND owner, const char* host);
