// The traceroute tool. Order: globals, library mode (first echo, then the hop loop), raw
// mode (socket, then the hop loop), the dialog procedure and the entry point. A trace runs
// to its end inside the start button's handler.
#include "tools/trace.h"

#include "icmp/icmplib.h"
#include "icmp/rawecho.h"
#include "icmp/sockerr.h"
#include "model/settings.h"
#include "monitor/mapwnd.h"
#include "monitor/poll.h"
#include "platform/dialog.h"
#include "platform/window.h"
#include "resources/dialogcommon.h"

#include <cstdio>

using namespace platform;

/*** globals ***/

TraceRun traceRun = {"", {}, 0, 0, {}, {}};

static constexpr unsigned NAME_SIZE = 256; // a hop's status text or name

/*** library mode ***/

// The name of a hop's address, found by reverse look-up, into `name` (NAME_SIZE bytes).
static void LookUpHopName(DWORD address, char* name) {
    traceRun.callInProgress = 1;
    hostent* entry = gethostbyaddr(reinterpret_cast<const char*>(&address), 4, AF_INET);
    traceRun.callInProgress = 0;
    if (entry != nullptr && entry->h_name != nullptr)
        std::snprintf(name, NAME_SIZE, "%s", entry->h_name);
}

// Probes hops 1 to 29 through the open set; returns the last status (0: the host answered).
static DWORD TraceHopsWithLibrary(LibraryEchoSet* set, const sockaddr_in* destination) {
    const std::uint32_t target = destination->sin_addr.s_addr;
    DWORD status = TRACE_TIMED_OUT;
    DWORD previous = 0;
    char text[NAME_SIZE];
    for (unsigned hop = 1; hop < LIBRARY_TRACE_HOP_END; ++hop) {
        if (toolEcho.stopRequested ||
            (status != TRACE_TIMED_OUT && status != IP_TTL_EXPIRED_TRANSIT))
            break;
        if (!SendLibraryEcho(set, target, hop, LIBRARY_HOP_TIMEOUT)) {
            status = set->status;
            PrintToolLine("%2u      *      * %s", hop, IcmpStatusText(status, text));
            continue;
        }
        // Two more echoes with the same time-to-live; the record read is the last one made.
        SendLibraryEcho(set, target, hop, LIBRARY_HOP_TIMEOUT);
        SendLibraryEcho(set, target, hop, LIBRARY_HOP_TIMEOUT);
        const ICMP_ECHO_REPLY* record = TakeLibraryEchoAnswer(set);
        text[0] = '\0';
        status = record->Status;
        if (status != IP_SUCCESS && status != IP_TTL_EXPIRED_TRANSIT)
            IcmpStatusText(status, text);
        if (toolOptions.showHopNames && text[0] == '\0')
            LookUpHopName(record->Address, text);
        char roundTrip[ROUND_TRIP_TEXT_SIZE];
        RoundTripText(record->RoundTripTime, roundTrip);
        long step = static_cast<long>(record->RoundTripTime) - static_cast<long>(previous);
        if (text[0] != '\0')
            PrintToolLine("%2u %6s %6ld %-15.15s %s", hop, roundTrip, step,
                          DottedAddress(record->Address), text);
        else
            PrintToolLine("%2u %6s %6ld %s", hop, roundTrip, step, DottedAddress(record->Address));
        previous = record->RoundTripTime;
        PrintEchoReplyDebug(record);
    }
    AppendToolLine(toolEcho.outputBox, status != IP_SUCCESS ? "not reached" : "host reached");
    return status;
}

// A first echo without a time-to-live, then the hops when it was answered.
static void TraceWithLibrary(const sockaddr_in* destination) {
    LibraryEchoSet set;
    if (!OpenToolEchoSet(&set))
        return;
    if (SendLibraryEcho(&set, destination->sin_addr.s_addr, 0, options.waitTimeout)) {
        PrintEchoReply(TakeLibraryEchoAnswer(&set));
        TraceHopsWithLibrary(&set, destination);
    } else {
        char status[ICMP_STATUS_TEXT_SIZE];
        AppendToolLine(toolEcho.outputBox, IcmpStatusText(set.status, status));
    }
    CloseLibraryEcho(&set);
}

/*** raw mode ***/

// Probes hops 1 to the Tool Options maximum (at most TRACE_HOPS_LIMIT) through `raw`;
// returns the last status (0: the host answered).
static int TraceWithRawSocket(SOCKET raw, const sockaddr_in* destination) {
    toolEcho.stopRequested = 0;
    int status = static_cast<int>(TRACE_TIMED_OUT);
    unsigned lastHop =
        toolOptions.traceMaxHops < TRACE_HOPS_LIMIT ? toolOptions.traceMaxHops : TRACE_HOPS_LIMIT;
    for (unsigned hop = 1; status == static_cast<int>(TRACE_TIMED_OUT) && hop <= lastHop; ++hop) {
        int type = -1;
        // Each probe its own sequence, so a late answer to one never stands for the next.
        std::uint16_t sequence = NextEchoSequence();
        if (SendTraceProbe(raw, destination, sequence, traceRun.request, TRACE_DATA_LENGTH, hop) ==
            0) {
            traceRun.callInProgress = 1;
            type = ReceiveTraceReply(raw, destination, sequence, traceRun.reply,
                                     static_cast<int>(TRACE_REPLY_SIZE), hop);
            traceRun.callInProgress = 0;
        }
        if (type == -1) {
            PrintToolLine("%2u      *      * %s", hop, "");
            status = static_cast<int>(TRACE_TIMED_OUT);
        } else if (type == 11) {
            status = static_cast<int>(TRACE_TIMED_OUT); // a router on the way: its line is out
        } else {
            status = type; // 0 the host itself; 3 and the rest end the trace
        }
        if (toolEcho.stopRequested)
            break;
    }
    AppendToolLine(toolEcho.outputBox, status != 0 ? "not reached" : "host reached");
    return status;
}

static void StartRawTrace(const sockaddr_in* destination) {
    SOCKET raw = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
    if (raw == INVALID_SOCKET) {
        PrintToolLine("can't create raw socket %s",
                      SocketErrorText(static_cast<unsigned>(WSAGetLastError())));
        return;
    }
    TraceWithRawSocket(raw, destination);
    closesocket(raw);
}

/*** the dialog ***/

// Resolves `host` and runs the whole trace in the selected mode before returning.
static void StartTrace(const char* host, HWND resultsBox) {
    SetToolBoxText(resultsBox, "looking up %s\r\n", host);
    traceRun.callInProgress = 1;
    bool resolved = ResolveToolHost(host, &traceRun.destination);
    traceRun.callInProgress = 0;
    if (!resolved) {
        SetToolBoxText(resultsBox, "Failed to resolve name %s\r\n", host);
        return;
    }
    SetWindowText(resultsBox, " ");
    PrintToolLine("Tracing route to %s\r\n", DottedAddress(traceRun.destination.sin_addr.s_addr));
    if (options.useIcmpLibrary)
        TraceWithLibrary(&traceRun.destination);
    else if (options.useRawIcmp)
        StartRawTrace(&traceRun.destination);
    else
        AppendToolLine(toolEcho.outputBox, "Can't trace without ICMP support.");
}

static void InitTraceDialog(HWND dialog) {
    HWND resultsBox = GetDlgItem(dialog, TOOL_RESULTS_EDIT);
    toolEcho.outputBox = resultsBox;
    toolEcho.traceIdentifier = resultsBox;
    toolEcho.timeoutWindow = mainWindow;
    SetDlgItemText(dialog, TOOL_HOST_EDIT, traceRun.hostText);
    ApplyToolFont(dialog);
    if (traceRun.hostText[0] != '\0')
        PostStartClick(dialog);
}

static void OnTraceButton(HWND dialog) {
    if (traceRun.inProgress) {
        // Pressed while a trace waits: stop it, and start again once it has returned.
        toolEcho.stopRequested = 1;
        if (traceRun.callInProgress && WSAIsBlocking())
            WSACancelBlockingCall();
        PostStartClick(dialog);
        return;
    }
    toolEcho.stopRequested = 0;
    TakeHostText(dialog, traceRun.hostText);
    traceRun.inProgress = 1;
    StartTrace(traceRun.hostText, GetDlgItem(dialog, TOOL_RESULTS_EDIT));
    traceRun.inProgress = 0;
}

static void EndTraceDialog(HWND dialog) {
    toolEcho.stopRequested = 1;
    if (traceRun.callInProgress && WSAIsBlocking())
        WSACancelBlockingCall();
    EndDialog(dialog, 0);
}

static INT_PTR TraceDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        InitTraceDialog(dialog);
        return 1;
    case WM_SIZE:
        LayoutToolDialog(dialog);
        return 1;
    case WM_COMMAND:
        OnToolCommand(dialog, wParam, OnTraceButton, EndTraceDialog);
        return 1;
    default:
        return AnswerDialogColor(message, wParam);
    }
}

/*** entry point ***/

int ShowTraceTool(HWND owner, const char* host) {
    std::snprintf(traceRun.hostText, sizeof traceRun.hostText, "%s", host != nullptr ? host : "");
    StopPollTimer();
    INT_PTR result = DialogBox(owner, "DLG_TRACEROUTE", TraceDialogProc);
    toolEcho.outputBox = 0; // the results box is gone
    if (!pollState.inProgress)
        StartPollTimer();
    return static_cast<int>(result);
}
