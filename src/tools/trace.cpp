// The traceroute tool. Order: globals, library mode (first echo, then the hop loop), raw
// mode (socket and buffers, then the hop loop), the dialog procedure and the entry point.
// A trace runs to its end inside the start button's handler.
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

using platform::AF_INET;
using platform::DWORD;
using platform::HANDLE;
using platform::HWND;
using platform::ICMP_ECHO_REPLY;
using platform::INT_PTR;
using platform::INVALID_HANDLE_VALUE;
using platform::INVALID_SOCKET;
using platform::IP_OPTION_INFORMATION;
using platform::LPARAM;
using platform::sockaddr_in;
using platform::SOCKET;
using platform::UINT;
using platform::WPARAM;

/*** globals ***/

TraceRun traceRun = {"", {}, 0, 0, {}, {}};

static constexpr unsigned NAME_SIZE = 256; // a hop's status text or name

/*** library mode ***/

static void PrintReplyRecord(const ICMP_ECHO_REPLY* record) {
    char status[ICMP_STATUS_TEXT_SIZE];
    char time[ROUND_TRIP_TEXT_SIZE];
    RoundTripText(record->RoundTripTime, time);
    if (record->Status == platform::IP_SUCCESS)
        PrintToolLine("%d bytes from %s: time=%s ms", record->DataSize,
                      DottedAddress(record->Address), time);
    else
        PrintToolLine("%s from %s: time=%s ms", IcmpStatusText(record->Status, status),
                      DottedAddress(record->Address), time);
    PrintEchoReplyDebug(record);
}

// The name of a hop's address, found by reverse look-up, into `name` (NAME_SIZE bytes).
static void LookUpHopName(DWORD address, char* name) {
    traceRun.callInProgress = 1;
    platform::hostent* entry =
        platform::gethostbyaddr(reinterpret_cast<const char*>(&address), 4, AF_INET);
    traceRun.callInProgress = 0;
    if (entry != nullptr && entry->h_name != nullptr)
        std::snprintf(name, NAME_SIZE, "%s", entry->h_name);
}

DWORD TraceHopsWithLibrary(HANDLE handle, const sockaddr_in* destination, const char* data,
                           void* reply, unsigned dataLength) {
    DWORD status = TRACE_TIMED_OUT;
    DWORD previous = 0;
    char text[NAME_SIZE];
    for (unsigned hop = 1; hop < LIBRARY_TRACE_HOP_END; ++hop) {
        if (toolEcho.stopRequested ||
            (status != TRACE_TIMED_OUT && status != platform::IP_TTL_EXPIRED_TRANSIT))
            break;
        IP_OPTION_INFORMATION options{};
        options.Ttl = static_cast<std::uint8_t>(hop);
        auto send = [&]() {
            return platform::IcmpSendEcho(handle, destination->sin_addr.s_addr, data,
                                          static_cast<platform::WORD>(dataLength), &options, reply,
                                          EchoReplyBufferSize(), LIBRARY_HOP_TIMEOUT);
        };
        if (send() == 0) {
            status = platform::GetLastError();
            PrintToolLine("%2u      *      * %s", hop, IcmpStatusText(status, text));
            continue;
        }
        // Two more echoes with the same time-to-live; the record read is the last one made.
        send();
        send();
        const auto* record = static_cast<const ICMP_ECHO_REPLY*>(reply);
        text[0] = '\0';
        status = record->Status;
        if (status != platform::IP_SUCCESS && status != platform::IP_TTL_EXPIRED_TRANSIT)
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
    AppendToolLine(toolEcho.outputBox,
                   status != platform::IP_SUCCESS ? "not reached" : "host reached");
    return status;
}

void TraceWithLibrary(HWND, const sockaddr_in* destination) {
    if (!LoadIcmpLibrary())
        return;
    bool allocated = false;
    const char* data = PrepareEchoData(&allocated);
    void* reply = AllocateEchoReplyBuffer();
    if (reply == nullptr) {
        AppendToolLine(toolEcho.outputBox, "failed to allocate reply buffer");
        FreeEchoData(data, allocated);
        return;
    }
    HANDLE handle = platform::IcmpCreateFile();
    if (handle == INVALID_HANDLE_VALUE) {
        FreeEchoReplyBuffer(reply);
        FreeEchoData(data, allocated);
        return;
    }
    DWORD records = platform::IcmpSendEcho(handle, destination->sin_addr.s_addr, data,
                                           static_cast<platform::WORD>(toolOptions.echoDataLength),
                                           nullptr, reply, EchoReplyBufferSize(), waitTimeout);
    if (records == 0) {
        char status[ICMP_STATUS_TEXT_SIZE];
        AppendToolLine(toolEcho.outputBox, IcmpStatusText(platform::GetLastError(), status));
    } else {
        PrintReplyRecord(static_cast<const ICMP_ECHO_REPLY*>(reply));
        TraceHopsWithLibrary(handle, destination, data, reply, toolOptions.echoDataLength);
    }
    platform::IcmpCloseHandle(handle);
    FreeEchoReplyBuffer(reply);
    FreeEchoData(data, allocated);
}

/*** raw mode ***/

int TraceWithRawSocket(SOCKET socket, const sockaddr_in* destination, unsigned char* request,
                       unsigned char* reply, unsigned dataLength) {
    toolEcho.stopRequested = 0;
    int status = static_cast<int>(TRACE_TIMED_OUT);
    unsigned lastHop =
        toolOptions.traceMaxHops < TRACE_HOPS_LIMIT ? toolOptions.traceMaxHops : TRACE_HOPS_LIMIT;
    for (unsigned hop = 1; status == static_cast<int>(TRACE_TIMED_OUT) && hop <= lastHop; ++hop) {
        int type = -1;
        // Each probe its own sequence, so a late answer to one never stands for the next.
        std::uint16_t sequence = platform::NextEchoSequence();
        if (SendTraceProbe(socket, destination, sequence, request, dataLength, hop) == 0) {
            traceRun.callInProgress = 1;
            type = ReceiveTraceReply(socket, destination, sequence, reply,
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

void StartRawTrace(HWND, const sockaddr_in* destination) {
    SOCKET socket = platform::socket(AF_INET, platform::SOCK_RAW, platform::IPPROTO_ICMP);
    if (socket == INVALID_SOCKET) {
        PrintToolLine("can't create raw socket %s",
                      SocketErrorText(static_cast<unsigned>(platform::WSAGetLastError())));
        return;
    }
    TraceWithRawSocket(socket, destination, traceRun.request, traceRun.reply, TRACE_DATA_LENGTH);
    platform::closesocket(socket);
}

/*** the dialog ***/

void StartTrace(HWND dialog, const char* host, HWND resultsBox) {
    SetToolBoxText(resultsBox, "looking up %s\r\n", host);
    traceRun.callInProgress = 1;
    bool resolved = ResolveToolHost(host, &traceRun.destination);
    traceRun.callInProgress = 0;
    if (!resolved) {
        SetToolBoxText(resultsBox, "Failed to resolve name %s\r\n", host);
        return;
    }
    platform::SetWindowText(resultsBox, " ");
    PrintToolLine("Tracing route to %s\r\n", DottedAddress(traceRun.destination.sin_addr.s_addr));
    if (useIcmpLibrary)
        TraceWithLibrary(dialog, &traceRun.destination);
    else if (useRawIcmp)
        StartRawTrace(dialog, &traceRun.destination);
    else
        AppendToolLine(toolEcho.outputBox, "Can't trace without ICMP support.");
}

static void InitTraceDialog(HWND dialog) {
    HWND resultsBox = platform::GetDlgItem(dialog, TOOL_RESULTS_EDIT);
    toolEcho.outputBox = resultsBox;
    toolEcho.traceIdentifier = resultsBox;
    toolEcho.timeoutWindow = mainWindow;
    platform::SetDlgItemText(dialog, TOOL_HOST_EDIT, traceRun.hostText);
    ApplyToolFont(dialog);
    if (traceRun.hostText[0] != '\0')
        PostStartClick(dialog);
}

static void OnTraceButton(HWND dialog) {
    if (traceRun.inProgress) {
        // Pressed while a trace waits: stop it, and start again once it has returned.
        toolEcho.stopRequested = 1;
        if (traceRun.callInProgress && platform::WSAIsBlocking())
            platform::WSACancelBlockingCall();
        PostStartClick(dialog);
        return;
    }
    toolEcho.stopRequested = 0;
    TakeHostText(dialog, traceRun.hostText);
    traceRun.inProgress = 1;
    StartTrace(dialog, traceRun.hostText, platform::GetDlgItem(dialog, TOOL_RESULTS_EDIT));
    traceRun.inProgress = 0;
}

static void EndTraceDialog(HWND dialog) {
    toolEcho.stopRequested = 1;
    if (traceRun.callInProgress && platform::WSAIsBlocking())
        platform::WSACancelBlockingCall();
    platform::EndDialog(dialog, 0);
}

INT_PTR TraceDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    (void)lParam;
    switch (message) {
    case platform::WM_INITDIALOG:
        InitTraceDialog(dialog);
        return 1;
    case platform::WM_SIZE:
        LayoutToolDialog(dialog);
        return 1;
    case platform::WM_COMMAND:
        OnToolCommand(dialog, wParam, OnTraceButton, EndTraceDialog);
        return 1;
    default:
        return AnswerDialogColor(message, wParam);
    }
}

int ShowTraceTool(HWND owner, const char* host) {
    std::snprintf(traceRun.hostText, sizeof traceRun.hostText, "%s", host != nullptr ? host : "");
    StopPollTimer();
    INT_PTR result = platform::DialogBox(owner, "DLG_TRACEROUTE", TraceDialogProc);
    toolEcho.outputBox = 0; // the results box is gone
    if (!pollInProgress)
        StartPollTimer();
    return static_cast<int>(result);
}
