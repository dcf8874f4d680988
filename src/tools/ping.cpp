// The ping tool. Order: globals, the helpers shared with the traceroute dialog (layout,
// font, resolving, the echo set), library mode, raw mode, the dialog procedure and the
// entry point. A raw run lives between StartRawPing and FinishRawPing: its socket, its tick
// on the dialog and its counts belong to pingRun.
#include "tools/ping.h"

#include "icmp/rawecho.h"
#include "icmp/sockerr.h"
#include "model/settings.h"
#include "monitor/mapwnd.h"
#include "monitor/poll.h"
#include "platform/dialog.h"
#include "platform/gdi.h"
#include "platform/icmplib.h"
#include "platform/window.h"
#include "resources/dialogcommon.h"
#include "tools/shared.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

using namespace platform;

/*** globals ***/

PingRun pingRun = {"", {}, INVALID_SOCKET, 0, 0, 0, {}, {}, {}};
int (*toolOptionsDialog)(HWND owner) = nullptr;

static constexpr unsigned LINE_SIZE = 512;

/*** helpers ***/

void SetToolBoxText(HWND box, const char* format, ...) {
    char text[LINE_SIZE];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    SetWindowText(box, text);
}

void PostStartClick(HWND dialog) {
    PostMessage(dialog, WM_COMMAND, MAKEWPARAM(TOOL_START_BUTTON, BN_CLICKED),
                static_cast<LPARAM>(GetDlgItem(dialog, TOOL_START_BUTTON)));
}

void OnToolCommand(HWND dialog, WPARAM wParam, void (*start)(HWND), void (*end)(HWND)) {
    switch (LOWORD(wParam)) {
    case TOOL_START_BUTTON:
        start(dialog);
        break;
    case TOOL_EXIT_BUTTON:
    case TOOL_EXIT_COMMAND:
        end(dialog);
        break;
    case TOOL_OPTIONS_BUTTON:
        if (toolOptionsDialog != nullptr)
            toolOptionsDialog(dialog);
        break;
    default:
        break;
    }
}

void TakeHostText(HWND dialog, char* hostText) {
    GetDlgItemText(dialog, TOOL_HOST_EDIT, hostText, static_cast<int>(ECHO_HOST_LENGTH + 1));
    SendDlgItemMessage(dialog, TOOL_HOST_EDIT, EM_SETSEL, 0, -1);
}

static int AtLeastZero(int value) {
    return value < 0 ? 0 : value;
}

void LayoutToolDialog(HWND dialog) {
    RECT host, results, exit;
    if (!GetControlRect(dialog, TOOL_HOST_EDIT, &host) ||
        !GetControlRect(dialog, TOOL_RESULTS_EDIT, &results) ||
        !GetControlRect(dialog, TOOL_EXIT_BUTTON, &exit) ||
        GetDlgItem(dialog, TOOL_START_BUTTON) == 0 || GetDlgItem(dialog, TOOL_OPTIONS_BUTTON) == 0)
        return; // a size change while the dialog is still being built
    RECT client{};
    GetClientRect(dialog, &client);
    int margin = host.left;
    int resultsMargin = results.left;
    int width = exit.right - exit.left;
    int height = exit.bottom - exit.top;
    int x = client.right - width - margin;
    MoveWindow(GetDlgItem(dialog, TOOL_EXIT_BUTTON), x, 2, width, height, true);
    MoveWindow(GetDlgItem(dialog, TOOL_START_BUTTON), x, 2 + height + 2, width, height, true);
    MoveWindow(GetDlgItem(dialog, TOOL_OPTIONS_BUTTON), x, 2 + 2 * (height + 2), width, height,
               true);
    MoveWindow(GetDlgItem(dialog, TOOL_HOST_EDIT), host.left, host.top, AtLeastZero(x - 2 * margin),
               host.bottom - host.top, true);
    MoveWindow(GetDlgItem(dialog, TOOL_RESULTS_EDIT), results.left, results.top,
               AtLeastZero(client.right - 2 * resultsMargin),
               AtLeastZero(client.bottom - results.top - resultsMargin), true);
}

void ApplyToolFont(HWND dialog) {
    if (!options.fixedFontTools)
        return;
    SendDlgItemMessage(dialog, TOOL_RESULTS_EDIT, WM_SETFONT,
                       reinterpret_cast<WPARAM>(GetStockObject(ANSI_FIXED_FONT)), 0);
}

bool ResolveToolHost(const char* host, sockaddr_in* destination) {
    *destination = sockaddr_in{};
    destination->sin_family = AF_INET;
    std::uint32_t address = inet_addr(host);
    if (address != INADDR_NONE) {
        destination->sin_addr.s_addr = address;
        return true;
    }
    if (host[0] == '\0')
        return false; // nothing to look up
    hostent* entry = gethostbyname(host);
    if (entry == nullptr || entry->h_length != 4 || entry->h_addr_list == nullptr ||
        entry->h_addr_list[0] == nullptr)
        return false;
    std::memcpy(&destination->sin_addr.s_addr, entry->h_addr_list[0], 4);
    return true;
}

const char* DottedAddress(std::uint32_t address) {
    in_addr value{};
    value.s_addr = address;
    return inet_ntoa(value);
}

bool OpenToolEchoSet(LibraryEchoSet* set) {
    LibraryEchoOpening opening = OpenLibraryEcho(set);
    if (opening == ECHO_SET_NO_BUFFER)
        AppendToolLine(toolEcho.outputBox, "failed to allocate reply buffer");
    return opening == ECHO_SET_OPEN;
}

/*** library mode ***/

static void PrintLibraryStatistics(const PingStatistics& counts) {
    AppendToolLine(toolEcho.outputBox, "---");
    unsigned sent = static_cast<unsigned>(counts.sent);
    unsigned received = static_cast<unsigned>(counts.received);
    if (sent > 0 && received > 0)
        PrintToolLine("%u transmitted, %u received, %u%% packet loss", sent, received,
                      static_cast<unsigned>(static_cast<int>(sent - received) * 100 /
                                            static_cast<int>(sent)));
    else
        PrintToolLine("%u transmitted, %u received, 100%% packet loss", sent, received);
    if (received == 0) {
        PrintToolLine("round trip (ms) min/max/avg = 0/0/0");
        return;
    }
    char shortest[ROUND_TRIP_TEXT_SIZE], longest[ROUND_TRIP_TEXT_SIZE],
        average[ROUND_TRIP_TEXT_SIZE];
    PrintToolLine("round trip (ms) min/max/avg = %s/%s/%s", RoundTripText(counts.rttMin, shortest),
                  RoundTripText(counts.rttMax, longest),
                  RoundTripText(counts.rttSum / received, average));
}

// The whole ping, one echo after the other, before returning.
static void PingWithLibrary(const sockaddr_in* destination) {
    LibraryEchoSet set;
    if (!OpenToolEchoSet(&set))
        return;
    PingStatistics counts{0, 0, PING_RTT_MIN_START, 0, 0};
    char status[ICMP_STATUS_TEXT_SIZE];
    for (unsigned request = 0; request < toolOptions.pingCount; ++request) {
        ++counts.sent;
        if (!SendLibraryEcho(&set, destination->sin_addr.s_addr, 0, options.waitTimeout)) {
            AppendToolLine(toolEcho.outputBox, IcmpStatusText(set.status, status));
            continue;
        }
        const ICMP_ECHO_REPLY* record = TakeLibraryEchoAnswer(&set);
        // Only an echo reply is a packet received: a router's error about the request is
        // printed, but the request still counts as lost.
        if (record->Status == IP_SUCCESS)
            CountPingReply(&counts, record->RoundTripTime);
        PrintEchoReply(record);
    }
    CloseLibraryEcho(&set);
    PrintLibraryStatistics(counts);
}

static void StartLibraryPing(const char* host, HWND resultsBox) {
    SetToolBoxText(resultsBox, "looking up %s\r\n", host);
    pingRun.callInProgress = 1;
    bool resolved = ResolveToolHost(host, &pingRun.destination);
    pingRun.callInProgress = 0;
    if (!resolved) {
        SetToolBoxText(resultsBox, "Failed to resolve name %s\r\n", host);
        return;
    }
    SetWindowText(resultsBox, " ");
    PrintToolLine("Pinging host %s [%s]\r\n", host,
                  DottedAddress(pingRun.destination.sin_addr.s_addr));
    PingWithLibrary(&pingRun.destination);
}

/*** raw mode ***/

// Ends a raw run without statistics: its tick stops and its socket is closed. Not while a
// blocking call is in progress: the socket could not be closed then, and stays for later.
static void AbandonRawPing(HWND dialog) {
    KillTimer(dialog, BLOCK_SEND_TIMER_ID);
    pingRun.rawActive = 0;
    if (pingRun.socket != INVALID_SOCKET && !WSAIsBlocking())
        pingRun.socket = CloseRawSocket(pingRun.socket);
}

// Opens the socket, prints the header and arms the tick; the ticks send and wait.
static void StartRawPing(HWND dialog) {
    toolEcho.stopRequested = 0;
    pingRun.callInProgress = 1;
    bool resolved = ResolveToolHost(pingRun.hostText, &pingRun.destination);
    pingRun.callInProgress = 0;
    if (!resolved) {
        PrintToolLine("can't get \"%s\" host entry.", pingRun.hostText);
        return;
    }
    SOCKET raw = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
    if (raw == INVALID_SOCKET) {
        PrintToolLine("can't create raw socket %s",
                      SocketErrorText(static_cast<unsigned>(WSAGetLastError())));
        return;
    }
    pingRun.socket = raw;
    PrintToolLine("[%u] raw socket created", static_cast<unsigned>(raw));
    pingRun.statistics = PingStatistics{0, 0, PING_RTT_MIN_START, 0, 0};
    toolOptions.echoDataLength = BoundEchoDataLength(toolOptions.echoDataLength);
    AppendToolLine(toolEcho.outputBox, " ");
    PrintToolLine("PING %s (%s): %u data bytes", pingRun.hostText,
                  DottedAddress(pingRun.destination.sin_addr.s_addr), toolOptions.echoDataLength);
    ++pingRun.number;
    pingRun.rawActive = 1;
    SetTimer(dialog, BLOCK_SEND_TIMER_ID, BLOCK_SEND_PERIOD, nullptr);
}

// Waits for the answer to the last request sent, whose sequence is the count before it.
static void WaitForPingReply() {
    pingRun.callInProgress = 1;
    ReceivePingReply(pingRun.socket, &pingRun.destination,
                     static_cast<std::uint16_t>(pingRun.statistics.sent - 1), pingRun.reply,
                     &pingRun.statistics);
    pingRun.callInProgress = 0;
}

static void OnPingTimer(HWND dialog, UINT_PTR timerId) {
    if (timerId != BLOCK_SEND_TIMER_ID) {
        KillTimer(dialog, timerId);
        return;
    }
    const PingStatistics& counts = pingRun.statistics;
    AppendToolLine(toolEcho.outputBox, "[Timer-BLOCK_SEND] ");
    if (counts.sent >= 0 && static_cast<unsigned>(counts.sent) < toolOptions.pingCount &&
        !toolEcho.stopRequested) {
        // A tick during the wait of an earlier one finds the stack busy: the send fails with
        // 10036, is not counted, and a later tick sends the request.
        if (SendPingRequest(pingRun.socket, &pingRun.destination, pingRun.request,
                            toolOptions.echoDataLength, &pingRun.statistics))
            WaitForPingReply();
        return;
    }
    if (pingRun.callInProgress)
        return; // the last request's wait goes on: the run ends on a later tick
    KillTimer(dialog, BLOCK_SEND_TIMER_ID);
    if (counts.received != counts.sent)
        WaitForPingReply(); // a late reply's last chance
    PostMessage(dialog, WM_PING_DONE, pingRun.number, 0);
}

static void PrintRawStatistics(const PingStatistics& counts) {
    AppendToolLine(toolEcho.outputBox, " ");
    PrintToolLine("PING Statistics for %s ", pingRun.hostText);
    if (counts.sent != 0 && counts.received != 0)
        PrintToolLine("%d packets transmitted, %d packets received, %d%% packet loss", counts.sent,
                      counts.received, (counts.sent - counts.received) * 100 / counts.sent);
    else if (counts.sent != 0)
        PrintToolLine("%d packets transmitted, %d packets received, 100%% packet loss", counts.sent,
                      counts.received);
    if (counts.received == 0)
        return;
    char shortest[ROUND_TRIP_TEXT_SIZE], average[ROUND_TRIP_TEXT_SIZE],
        longest[ROUND_TRIP_TEXT_SIZE];
    PrintToolLine(
        "round-trip (ms) min/avg/max = %s/%s/%s", RoundTripText(counts.rttMin, shortest),
        RoundTripText(counts.rttSum / static_cast<std::uint32_t>(counts.received), average),
        RoundTripText(counts.rttMax, longest));
}

// WM_PING_DONE: closes the socket and prints the statistics.
static void FinishRawPing() {
    pingRun.rawActive = 0;
    pingRun.socket = CloseRawSocket(pingRun.socket);
    PrintRawStatistics(pingRun.statistics);
}

/*** the dialog ***/

static void InitPingDialog(HWND dialog) {
    toolEcho.outputBox = GetDlgItem(dialog, TOOL_RESULTS_EDIT);
    toolEcho.pingIdentifier = dialog;
    toolEcho.timeoutWindow = mainWindow;
    SetDlgItemText(dialog, TOOL_HOST_EDIT, pingRun.hostText);
    ApplyToolFont(dialog);
    SetDlgItemText(dialog, TOOL_START_BUTTON, "&Ping");
    if (pingRun.hostText[0] != '\0')
        PostStartClick(dialog);
}

static void OnPingButton(HWND dialog) {
    TakeHostText(dialog, pingRun.hostText);
    if (pingRun.callInProgress) {
        // Pressed during a wait of the run in progress: cut the wait short and start again
        // once it has returned, since no socket can be opened or closed until then.
        if (WSAIsBlocking())
            WSACancelBlockingCall();
        PostStartClick(dialog);
        return;
    }
    AbandonRawPing(dialog); // a new run replaces the one in progress
    if (options.useIcmpLibrary)
        StartLibraryPing(pingRun.hostText, GetDlgItem(dialog, TOOL_RESULTS_EDIT));
    else if (options.useRawIcmp)
        StartRawPing(dialog);
    else
        AppendToolLine(toolEcho.outputBox, "Can't ping without ICMP support.");
}

static void EndPingDialog(HWND dialog) {
    KillTimer(dialog, BLOCK_SEND_TIMER_ID);
    pingRun.rawActive = 0;
    toolEcho.stopRequested = 1;
    if (pingRun.callInProgress && WSAIsBlocking())
        WSACancelBlockingCall();
    EndDialog(dialog, 0);
}

static INT_PTR PingDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        InitPingDialog(dialog);
        return 1;
    case WM_SIZE:
        LayoutToolDialog(dialog);
        return 1;
    case WM_TIMER:
        OnPingTimer(dialog, wParam);
        return 1;
    case WM_PING_DONE:
        if (pingRun.rawActive && wParam == pingRun.number)
            FinishRawPing();
        return 1;
    case WM_COMMAND:
        OnToolCommand(dialog, wParam, OnPingButton, EndPingDialog);
        return 1;
    default:
        return AnswerDialogColor(message, wParam);
    }
}

/*** entry point ***/

int ShowPingTool(HWND owner, const char* host) {
    std::snprintf(pingRun.hostText, sizeof pingRun.hostText, "%s", host != nullptr ? host : "");
    StopPollTimer();
    INT_PTR result = DialogBox(owner, "DLG_TRACEROUTE", PingDialogProc);
    // The results box is gone; a run that ended with the dialog leaves no socket behind.
    toolEcho.outputBox = 0;
    pingRun.rawActive = 0;
    if (pingRun.socket != INVALID_SOCKET && !WSAIsBlocking())
        pingRun.socket = CloseRawSocket(pingRun.socket);
    if (!pollState.inProgress)
        StartPollTimer();
    return static_cast<int>(result);
}
