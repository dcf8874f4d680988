// The traceroute tool. Order: globals, the run's end, library mode (first echo, then the
// hops), raw mode, the routers' names, the window procedure and the entry point. Each step
// of a trace is a message: the look-up's answer, an echo's end, the socket's event, the end
// of a hop's wait.
#include "tools/trace.h"

#include "icmp/icmplib.h"
#include "icmp/rawecho.h"
#include "icmp/sockerr.h"
#include "model/settings.h"
#include "platform/dialog.h"
#include "platform/window.h"
#include "resources/dialogcommon.h"

#include <cstdio>
#include <cstring>

using namespace platform;

/*** globals ***/

TraceRun traceRun = [] {
    TraceRun run{};
    run.socket = INVALID_SOCKET;
    return run;
}();

/*** the run ***/

// Ends the trace in progress silently: its look-up called off, its echo handle closed
// (its end never comes), its wait stopped and its socket closed.
static void AbandonTrace(HWND window) {
    CancelToolLookup(&traceRun.lookup);
    if (traceRun.echoOpen)
        CloseLibraryEcho(&traceRun.echo);
    traceRun.echoOpen = 0;
    KillTimer(window, ANSWER_TIMER_ID);
    if (traceRun.socket != INVALID_SOCKET)
        closesocket(traceRun.socket);
    traceRun.socket = INVALID_SOCKET;
    traceRun.phase = TRACE_IDLE;
}

// The last line of a trace, and its end.
static void EndTrace(HWND window, bool reached) {
    AppendToolLine(toolEcho.outputBox, reached ? "host reached" : "not reached");
    AbandonTrace(window);
}

// Starts looking up the name of a router at `address` for its line; false when it cannot.
static bool StartHopName(HWND window, const sockaddr_storage& address) {
    if (IsIpv6Destination(address)) {
        sockaddr_in6 ipv6;
        std::memcpy(&ipv6, &address, sizeof ipv6);
        traceRun.lookup = WSAAsyncGetHostByAddr(
            window, WM_TOOL_LOOKUP_DONE, reinterpret_cast<const char*>(ipv6.sin6_addr.u.Byte), 16,
            AF_INET6, traceRun.hostEntry, sizeof traceRun.hostEntry);
    } else {
        sockaddr_in ipv4;
        std::memcpy(&ipv4, &address, sizeof ipv4);
        traceRun.lookup = WSAAsyncGetHostByAddr(
            window, WM_TOOL_LOOKUP_DONE, reinterpret_cast<const char*>(&ipv4.sin_addr.s_addr), 4,
            AF_INET, traceRun.hostEntry, sizeof traceRun.hostEntry);
    }
    if (traceRun.lookup == 0)
        return false;
    traceRun.phase = TRACE_HOP_NAME;
    return true;
}

/*** library mode ***/

static void NextLibraryHop(HWND window);

// Probes the next hop, from 1 up to 29, while the last one timed out or was a router.
static void StartLibraryHops(HWND window) {
    char text[ICMP_STATUS_TEXT_SIZE];
    for (;;) {
        if (traceRun.hop >= LIBRARY_TRACE_HOP_END ||
            (traceRun.status != TRACE_TIMED_OUT && traceRun.status != IP_TTL_EXPIRED_TRANSIT)) {
            EndTrace(window, traceRun.status == IP_SUCCESS);
            return;
        }
        traceRun.echoes = 0;
        traceRun.phase = TRACE_LIBRARY_HOP;
        if (StartLibraryEcho(&traceRun.echo, window, WM_TOOL_ECHO_DONE, traceRun.destination,
                             traceRun.hop, LIBRARY_HOP_TIMEOUT))
            return;
        traceRun.status = traceRun.echo.status;
        PrintToolLine("%2u      *      * %s", traceRun.hop, IcmpStatusText(traceRun.status, text));
        ++traceRun.hop;
    }
}

// A hop's line from the record of the last answer made: round trip, its step from the
// hop before, the router, and its status text or name.
static void PrintLibraryHop(HWND window) {
    const ICMP_ECHO_REPLY* record = TakeLibraryEchoAnswer(&traceRun.echo);
    char roundTrip[ROUND_TRIP_TEXT_SIZE];
    RoundTripText(record->RoundTripTime, roundTrip);
    long step = static_cast<long>(record->RoundTripTime) - static_cast<long>(traceRun.previous);
    char router[ADDRESS_TEXT_SIZE];
    AddressText(traceRun.echo.lastFrom, router);
    // The address column is as wide as an IPv4 address; a longer IPv6 one widens it.
    if (traceRun.name[0] != '\0')
        PrintToolLine("%2u %6s %6ld %-15s %s", traceRun.hop, roundTrip, step, router,
                      traceRun.name);
    else
        PrintToolLine("%2u %6s %6ld %s", traceRun.hop, roundTrip, step, router);
    traceRun.previous = record->RoundTripTime;
    PrintEchoReplyDebug(record);
    NextLibraryHop(window);
}

static void NextLibraryHop(HWND window) {
    ++traceRun.hop;
    StartLibraryHops(window);
}

// After a hop's three echoes (the line is about the last record made), its line, with
// the router's name first looked up when asked for.
static void FinishLibraryHop(HWND window) {
    const ICMP_ECHO_REPLY* record = TakeLibraryEchoAnswer(&traceRun.echo);
    traceRun.name[0] = '\0';
    traceRun.status = record->Status;
    if (traceRun.status != IP_SUCCESS && traceRun.status != IP_TTL_EXPIRED_TRANSIT)
        IcmpStatusText(traceRun.status, traceRun.name);
    if (toolOptions.showHopNames && traceRun.name[0] == '\0' &&
        StartHopName(window, traceRun.echo.lastFrom))
        return;
    PrintLibraryHop(window);
}

// WM_TOOL_ECHO_DONE in a hop: a first echo that made no record ends the hop with its
// status; otherwise two more echoes with the same time-to-live follow.
static void OnLibraryHopEcho(HWND window) {
    bool answered = TakeLibraryEchoEnd(&traceRun.echo);
    if (traceRun.echoes++ == 0 && !answered) {
        char text[ICMP_STATUS_TEXT_SIZE];
        traceRun.status = traceRun.echo.status;
        PrintToolLine("%2u      *      * %s", traceRun.hop, IcmpStatusText(traceRun.status, text));
        NextLibraryHop(window);
        return;
    }
    for (; traceRun.echoes < 3; ++traceRun.echoes)
        if (StartLibraryEcho(&traceRun.echo, window, WM_TOOL_ECHO_DONE, traceRun.destination,
                             traceRun.hop, LIBRARY_HOP_TIMEOUT))
            return;
    FinishLibraryHop(window);
}

// WM_TOOL_ECHO_DONE of the first echo: its line, then the hops when it was answered.
static void OnFirstEcho(HWND window) {
    if (!TakeLibraryEchoEnd(&traceRun.echo)) {
        char status[ICMP_STATUS_TEXT_SIZE];
        AppendToolLine(toolEcho.outputBox, IcmpStatusText(traceRun.echo.status, status));
        AbandonTrace(window);
        return;
    }
    PrintEchoReply(&traceRun.echo);
    traceRun.hop = 1;
    traceRun.status = TRACE_TIMED_OUT;
    traceRun.previous = 0;
    StartLibraryHops(window);
}

static void OnTraceEcho(HWND window, WPARAM wParam) {
    if (reinterpret_cast<HANDLE>(wParam) != traceRun.echo.handle)
        return;
    if (traceRun.phase == TRACE_FIRST_ECHO)
        OnFirstEcho(window);
    else if (traceRun.phase == TRACE_LIBRARY_HOP)
        OnLibraryHopEcho(window);
}

// A first echo without a time-to-live.
static void BeginLibraryTrace(HWND window) {
    if (!OpenToolEchoSet(&traceRun.echo, traceRun.destination))
        return;
    traceRun.echoOpen = 1;
    traceRun.phase = TRACE_FIRST_ECHO;
    if (!StartLibraryEcho(&traceRun.echo, window, WM_TOOL_ECHO_DONE, traceRun.destination, 0,
                          options.waitTimeout)) {
        char status[ICMP_STATUS_TEXT_SIZE];
        AppendToolLine(toolEcho.outputBox, IcmpStatusText(traceRun.echo.status, status));
        AbandonTrace(window);
    }
}

/*** raw mode ***/

// Sends the next hop's request, from 1 to the Tool Options maximum (at most
// TRACE_HOPS_LIMIT), while the last hop timed out or was a router; each request its own
// sequence, so a late answer to one never stands for the next.
static void SendRawHops(HWND window) {
    unsigned lastHop =
        toolOptions.traceMaxHops < TRACE_HOPS_LIMIT ? toolOptions.traceMaxHops : TRACE_HOPS_LIMIT;
    for (;;) {
        if (traceRun.status != TRACE_TIMED_OUT || traceRun.hop > lastHop) {
            EndTrace(window, traceRun.status == 0);
            return;
        }
        traceRun.sequence = NextEchoSequence();
        traceRun.phase = TRACE_RAW_HOP;
        if (SendTraceProbe(traceRun.socket, &traceRun.destination, traceRun.sequence,
                           traceRun.request, TRACE_DATA_LENGTH, traceRun.hop) == 0 &&
            SetTimer(window, ANSWER_TIMER_ID, options.waitTimeout, nullptr) != 0)
            return;
        PrintToolLine("%2u      *      * %s", traceRun.hop, "");
        ++traceRun.hop;
    }
}

// The end of a raw hop with the ICMP type of its answer (-1: none).
static void EndRawHop(HWND window, int type) {
    KillTimer(window, ANSWER_TIMER_ID);
    if (type == -1)
        PrintToolLine("%2u      *      * %s", traceRun.hop, "");
    // A router on the way goes on; 0 the host itself; 3 and the rest end the trace.
    traceRun.status = type == -1 || type == 11 ? TRACE_TIMED_OUT : static_cast<DWORD>(type);
    ++traceRun.hop;
    SendRawHops(window);
}

static void OnRawHopTimeOut(HWND window) {
    PrintToolLine("[recvfrom] %s", SocketErrorText(WSAEINTR));
    EndRawHop(window, -1);
}

// The socket's event: the hop's answer ends it, after the router's name when asked for.
static void OnTraceSocket(HWND window, WPARAM wParam) {
    if (traceRun.socket == INVALID_SOCKET || static_cast<SOCKET>(wParam) != traceRun.socket)
        return;
    EchoRequestKey request = ToolEchoKey(
        traceRun.phase == TRACE_RAW_HOP ? &traceRun.destination : nullptr, // nothing awaited
        LOWORD(toolEcho.traceIdentifier), traceRun.sequence);
    int length = 0;
    sockaddr_storage sender{};
    int taken = TakeQueuedAnswer(traceRun.socket, traceRun.reply, TRACE_REPLY_SIZE, request,
                                 &length, &sender);
    if (traceRun.phase != TRACE_RAW_HOP || taken == 0)
        return;
    traceRun.line[0] = '\0';
    int type = taken == 1 ? ParseTracePacket(traceRun.reply, length, sender, traceRun.hop,
                                             traceRun.line, &request)
                          : -1;
    if (type > 0) {
        traceRun.routerType = type;
        KillTimer(window, ANSWER_TIMER_ID);
        if (toolOptions.showHopNames && StartHopName(window, sender))
            return;
        AppendToolLine(toolEcho.outputBox, traceRun.line);
    }
    EndRawHop(window, type);
}

static void BeginRawTrace(HWND window) {
    bool ipv6 = IsIpv6Destination(traceRun.destination);
    SOCKET raw = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_RAW, ipv6 ? IPPROTO_ICMPV6 : IPPROTO_ICMP);
    if (raw == INVALID_SOCKET) {
        PrintToolLine("can't create raw socket %s",
                      SocketErrorText(static_cast<unsigned>(WSAGetLastError())));
        return;
    }
    WSAAsyncSelect(raw, window, WM_TOOL_SOCKET, FD_READ);
    traceRun.socket = raw;
    traceRun.hop = 1;
    traceRun.status = TRACE_TIMED_OUT;
    SendRawHops(window);
}

// The trace's header, then its first step in the selected mode.
static void BeginTrace(HWND window) {
    SetWindowText(toolEcho.outputBox, " ");
    char address[ADDRESS_TEXT_SIZE];
    PrintToolLine("Tracing route to %s\r\n", AddressText(traceRun.destination, address));
    if (traceRun.library)
        BeginLibraryTrace(window);
    else if (options.useRawIcmp)
        BeginRawTrace(window);
    else
        AppendToolLine(toolEcho.outputBox, "Can't trace without ICMP support.");
}

/*** names ***/

// WM_TOOL_LOOKUP_DONE: the target's address starts the hops; a router's name finishes
// its line.
static void OnTraceLookupDone(HWND window, WPARAM wParam, LPARAM lParam) {
    if (traceRun.lookup == 0 || reinterpret_cast<HANDLE>(wParam) != traceRun.lookup)
        return;
    traceRun.lookup = 0;
    const auto* entry = reinterpret_cast<const hostent*>(traceRun.hostEntry);
    const char* name =
        WSAGETASYNCERROR(lParam) == 0 && entry->h_name != nullptr ? entry->h_name : nullptr;
    if (traceRun.phase == TRACE_HOP_NAME && traceRun.library) {
        if (name != nullptr)
            std::snprintf(traceRun.name, sizeof traceRun.name, "%s", name);
        traceRun.phase = TRACE_LIBRARY_HOP;
        PrintLibraryHop(window);
    } else if (traceRun.phase == TRACE_HOP_NAME) {
        if (name != nullptr)
            AppendText(traceRun.line, sizeof traceRun.line, " %s", name);
        AppendToolLine(toolEcho.outputBox, traceRun.line);
        traceRun.phase = TRACE_RAW_HOP;
        EndRawHop(window, traceRun.routerType);
    } else if (traceRun.phase == TRACE_TARGET_LOOKUP) {
        traceRun.phase = TRACE_IDLE;
        if (!TakeToolHostLookup(lParam, traceRun.hostEntry, &traceRun.destination)) {
            SetToolBoxText(toolEcho.outputBox, "Failed to resolve name %s\r\n", traceRun.hostText);
            return;
        }
        BeginTrace(window);
    }
}

/*** the window ***/

static void InitTraceWindow(HWND window) {
    traceRun.window = window;
    toolEcho.traceIdentifier = GetDlgItem(window, TOOL_RESULTS_EDIT);
    SetDlgItemText(window, TOOL_HOST_EDIT, traceRun.hostText);
    ApplyToolFont(window);
    if (traceRun.hostText[0] != '\0')
        PostStartClick(window);
}

// The start button: a new trace replaces the one in progress.
static void OnTraceButton(HWND window) {
    AbandonTrace(window);
    TakeHostText(window, traceRun.hostText);
    traceRun.library = options.useIcmpLibrary;
    SetToolBoxText(toolEcho.outputBox, "looking up %s\r\n", traceRun.hostText);
    traceRun.phase = TRACE_TARGET_LOOKUP;
    ToolHostLookup lookup = StartToolHostLookup(window, traceRun.hostText, &traceRun.destination,
                                                traceRun.hostEntry, &traceRun.lookup);
    if (lookup == TOOL_HOST_LOOKING_UP)
        return;
    traceRun.phase = TRACE_IDLE;
    if (lookup == TOOL_HOST_FAILED) {
        SetToolBoxText(toolEcho.outputBox, "Failed to resolve name %s\r\n", traceRun.hostText);
        return;
    }
    BeginTrace(window);
}

static void EndTraceWindow(HWND window) {
    DestroyWindow(window); // WM_DESTROY ends the trace
}

static INT_PTR TraceDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    toolEcho.outputBox = GetDlgItem(window, TOOL_RESULTS_EDIT); // this window's lines
    switch (message) {
    case WM_INITDIALOG:
        InitTraceWindow(window);
        return 1;
    case WM_SIZE:
        LayoutToolDialog(window);
        return 1;
    case WM_TIMER:
        if (wParam == ANSWER_TIMER_ID && traceRun.phase == TRACE_RAW_HOP)
            OnRawHopTimeOut(window);
        else
            KillTimer(window, wParam);
        return 1;
    case WM_TOOL_LOOKUP_DONE:
        OnTraceLookupDone(window, wParam, lParam);
        return 1;
    case WM_TOOL_ECHO_DONE:
        OnTraceEcho(window, wParam);
        return 1;
    case WM_TOOL_SOCKET:
        OnTraceSocket(window, wParam);
        return 1;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL)
            EndTraceWindow(window); // Escape and the close box
        else
            OnToolCommand(window, wParam, OnTraceButton, EndTraceWindow);
        return 1;
    case WM_DESTROY:
        toolEcho.outputBox = 0; // the box is going: the trace ends silently
        AbandonTrace(window);
        traceRun.window = 0;
        return 0;
    default:
        return AnswerDialogColor(message, wParam);
    }
}

/*** entry point ***/

int ShowTraceTool(HWND owner, const char* host) {
    std::snprintf(traceRun.hostText, sizeof traceRun.hostText, "%s", host != nullptr ? host : "");
    if (traceRun.window != 0 && host != nullptr) {
        SetDlgItemText(traceRun.window, TOOL_HOST_EDIT, traceRun.hostText);
        PostStartClick(traceRun.window);
    }
    return OpenToolWindow(owner, "DLG_TRACEROUTE", TraceDialogProc, &traceRun.window) ? 1 : 0;
}
