// The ping tool. Order: globals, the helpers shared with the traceroute window (layout,
// font, the host's look-up, the echo set), library mode, raw mode, the window procedure and
// the entry point. Each step of a run is a message: the look-up's answer, an echo's end, a
// tick, the socket's event, the end of a wait.
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

PingRun pingRun = {"", {}, 0, 0, 0, 0, {}, INVALID_SOCKET, 0, 0, 0, 0, {}, {}, {}, {}};
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

// A modal settings dialog pauses the countdown; a change it makes applies from the next
// cycle.
static void RunPausingCountdown(int (*dialogFunction)(HWND owner), HWND owner) {
    HoldCountdown();
    dialogFunction(owner);
    ReleaseCountdown();
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
            RunPausingCountdown(toolOptionsDialog, dialog);
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

ToolHostLookup StartToolHostLookup(HWND window, const char* host, sockaddr_storage* destination,
                                   char* entry, HANDLE* task) {
    if (ToolHostAddress(host, 0, destination) != 0)
        return TOOL_HOST_RESOLVED;
    if (host[0] == '\0')
        return TOOL_HOST_FAILED; // nothing to look up
    *task = WSAAsyncGetHostByNameAllFamilies(window, WM_TOOL_LOOKUP_DONE, host, entry,
                                             MAXGETHOSTSTRUCT);
    return *task != 0 ? TOOL_HOST_LOOKING_UP : TOOL_HOST_FAILED;
}

bool TakeToolHostLookup(LPARAM lParam, const char* entry, sockaddr_storage* destination) {
    return WSAGETASYNCERROR(lParam) == 0 &&
           ToolEntryAddress(reinterpret_cast<const hostent*>(entry), 0, destination) != 0;
}

void CancelToolLookup(HANDLE* task) {
    if (*task != 0)
        WSACancelAsyncRequest(*task);
    *task = 0;
}

bool IsIpv6Destination(const sockaddr_storage& destination) {
    return destination.ss_family == AF_INET6;
}

bool OpenToolEchoSet(LibraryEchoSet* set, const sockaddr_storage& destination) {
    LibraryEchoOpening opening = OpenLibraryEcho(set, IsIpv6Destination(destination));
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

// Sends the run's next echo, or ends the run with its statistics after the last one. An
// echo that fails before it is sent is told and counted, and the next one goes out.
static void SendNextLibraryEcho(HWND window) {
    char status[ICMP_STATUS_TEXT_SIZE];
    while (static_cast<unsigned>(pingRun.statistics.sent) < toolOptions.pingCount) {
        ++pingRun.statistics.sent;
        if (StartLibraryEcho(&pingRun.echo, window, WM_TOOL_ECHO_DONE, pingRun.destination, 0,
                             options.waitTimeout))
            return;
        AppendToolLine(toolEcho.outputBox, IcmpStatusText(pingRun.echo.status, status));
    }
    CloseLibraryEcho(&pingRun.echo);
    pingRun.libraryActive = 0;
    PrintLibraryStatistics(pingRun.statistics);
}

static void BeginLibraryPing(HWND window) {
    SetWindowText(toolEcho.outputBox, " ");
    char address[ADDRESS_TEXT_SIZE];
    PrintToolLine("Pinging host %s [%s]\r\n", pingRun.hostText,
                  AddressText(pingRun.destination, address));
    if (!OpenToolEchoSet(&pingRun.echo, pingRun.destination))
        return;
    pingRun.libraryActive = 1;
    pingRun.statistics = PingStatistics{0, 0, PING_RTT_MIN_START, 0, 0};
    SendNextLibraryEcho(window);
}

// WM_TOOL_ECHO_DONE: the echo's line, then the next echo. Only an echo reply is a packet
// received: a router's error about the request is printed, but the request counts as lost.
static void OnLibraryEchoDone(HWND window, WPARAM wParam) {
    if (!pingRun.libraryActive || reinterpret_cast<HANDLE>(wParam) != pingRun.echo.handle)
        return;
    if (TakeLibraryEchoEnd(&pingRun.echo)) {
        const ICMP_ECHO_REPLY* record = TakeLibraryEchoAnswer(&pingRun.echo);
        if (record->Status == IP_SUCCESS)
            CountPingReply(&pingRun.statistics, record->RoundTripTime);
        PrintEchoReply(&pingRun.echo);
    } else {
        char status[ICMP_STATUS_TEXT_SIZE];
        AppendToolLine(toolEcho.outputBox, IcmpStatusText(pingRun.echo.status, status));
    }
    SendNextLibraryEcho(window);
}

/*** raw mode ***/

// Opens the socket, prints the header and arms the tick; the ticks send.
static void BeginRawPing(HWND window) {
    bool ipv6 = IsIpv6Destination(pingRun.destination);
    SOCKET raw = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_RAW, ipv6 ? IPPROTO_ICMPV6 : IPPROTO_ICMP);
    if (raw == INVALID_SOCKET) {
        PrintToolLine("can't create raw socket %s",
                      SocketErrorText(static_cast<unsigned>(WSAGetLastError())));
        return;
    }
    WSAAsyncSelect(raw, window, WM_TOOL_SOCKET, FD_READ);
    pingRun.socket = raw;
    PrintToolLine("[%u] raw socket created", static_cast<unsigned>(raw));
    pingRun.statistics = PingStatistics{0, 0, PING_RTT_MIN_START, 0, 0};
    toolOptions.echoDataLength = BoundEchoDataLength(toolOptions.echoDataLength);
    AppendToolLine(toolEcho.outputBox, " ");
    char address[ADDRESS_TEXT_SIZE];
    PrintToolLine("PING %s (%s): %u data bytes", pingRun.hostText,
                  AddressText(pingRun.destination, address), toolOptions.echoDataLength);
    ++pingRun.number;
    pingRun.rawActive = 1;
    SetTimer(window, BLOCK_SEND_TIMER_ID, BLOCK_SEND_PERIOD, nullptr);
}

// The wait for the last request's answer, up to WAIT.
static void AwaitPingReply(HWND window) {
    pingRun.awaiting = 1;
    if (SetTimer(window, ANSWER_TIMER_ID, options.waitTimeout, nullptr) == 0) {
        pingRun.awaiting = 0;
        AppendToolLine(toolEcho.outputBox, "failed to create timeout timer");
    }
}

static void EndPingWait(HWND window) {
    KillTimer(window, ANSWER_TIMER_ID);
    pingRun.awaiting = 0;
    if (pingRun.lastChance) {
        pingRun.lastChance = 0;
        PostMessage(window, WM_PING_DONE, pingRun.number, 0);
    }
}

static void OnPingTick(HWND window) {
    const PingStatistics& counts = pingRun.statistics;
    AppendToolLine(toolEcho.outputBox, "[Timer-BLOCK_SEND] ");
    if (counts.sent >= 0 && static_cast<unsigned>(counts.sent) < toolOptions.pingCount) {
        // One request awaited at a time: a tick during its wait is lost, and a later tick
        // sends the request.
        if (pingRun.awaiting)
            PrintToolLine("[sendto] %s", SocketErrorText(WSAEINPROGRESS));
        else if (SendPingRequest(pingRun.socket, &pingRun.destination, pingRun.request,
                                 toolOptions.echoDataLength, &pingRun.statistics))
            AwaitPingReply(window);
        return;
    }
    if (pingRun.awaiting)
        return; // the last request's wait goes on: the run ends on a later tick
    KillTimer(window, BLOCK_SEND_TIMER_ID);
    pingRun.lastChance = 1;
    if (counts.received != counts.sent)
        AwaitPingReply(window); // a late reply's last chance
    if (!pingRun.awaiting)
        EndPingWait(window);
}

// The socket's event: what waits is read; the answer awaited ends its wait. Datagrams that
// come while nothing is awaited are passed over (no reply comes from address 0).
static void OnPingSocket(HWND window, WPARAM wParam) {
    if (!pingRun.rawActive || static_cast<SOCKET>(wParam) != pingRun.socket)
        return;
    EchoRequestKey request = ToolEchoKey(pingRun.awaiting ? &pingRun.destination : nullptr,
                                         LOWORD(toolEcho.pingIdentifier),
                                         static_cast<std::uint16_t>(pingRun.statistics.sent - 1));
    int length = 0;
    sockaddr_storage sender{};
    int taken = TakeQueuedAnswer(pingRun.socket, pingRun.reply, ECHO_BUFFER_SIZE, request, &length,
                                 &sender);
    if (taken == 1)
        ParsePingPacket(pingRun.reply, length, sender, PACKET_RECEIVED, &request,
                        &pingRun.statistics);
    if (taken != 0 && pingRun.awaiting)
        EndPingWait(window);
}

static void OnPingTimer(HWND window, UINT_PTR timerId) {
    if (timerId == BLOCK_SEND_TIMER_ID && pingRun.rawActive)
        OnPingTick(window);
    else if (timerId == ANSWER_TIMER_ID && pingRun.awaiting)
        EndPingWait(window);
    else
        KillTimer(window, timerId);
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

/*** runs ***/

// Ends the run in progress without statistics: its look-up is called off, its echo
// handle closed (its end never comes), its tick and wait stopped and its socket closed.
static void AbandonPing(HWND window) {
    CancelToolLookup(&pingRun.lookup);
    if (pingRun.libraryActive)
        CloseLibraryEcho(&pingRun.echo);
    pingRun.libraryActive = 0;
    KillTimer(window, BLOCK_SEND_TIMER_ID);
    KillTimer(window, ANSWER_TIMER_ID);
    pingRun.rawActive = pingRun.awaiting = pingRun.lastChance = 0;
    if (pingRun.socket != INVALID_SOCKET)
        pingRun.socket = CloseRawSocket(pingRun.socket);
}

static void BeginPing(HWND window) {
    if (pingRun.library)
        BeginLibraryPing(window);
    else
        BeginRawPing(window);
}

static void TellPingHostUnknown() {
    if (pingRun.library)
        SetToolBoxText(toolEcho.outputBox, "Failed to resolve name %s\r\n", pingRun.hostText);
    else
        PrintToolLine("can't get \"%s\" host entry.", pingRun.hostText);
}

static void OnPingLookupDone(HWND window, WPARAM wParam, LPARAM lParam) {
    if (pingRun.lookup == 0 || reinterpret_cast<HANDLE>(wParam) != pingRun.lookup)
        return;
    pingRun.lookup = 0;
    if (TakeToolHostLookup(lParam, pingRun.hostEntry, &pingRun.destination))
        BeginPing(window);
    else
        TellPingHostUnknown();
}

/*** the window ***/

static void InitPingWindow(HWND window) {
    pingRun.window = window;
    toolEcho.pingIdentifier = window;
    SetDlgItemText(window, TOOL_HOST_EDIT, pingRun.hostText);
    ApplyToolFont(window);
    SetDlgItemText(window, TOOL_START_BUTTON, "&Ping");
    if (pingRun.hostText[0] != '\0')
        PostStartClick(window);
}

// The start button: a new run replaces the one in progress.
static void OnPingButton(HWND window) {
    TakeHostText(window, pingRun.hostText);
    AbandonPing(window);
    if (!options.useIcmpLibrary && !options.useRawIcmp) {
        AppendToolLine(toolEcho.outputBox, "Can't ping without ICMP support.");
        return;
    }
    pingRun.library = options.useIcmpLibrary;
    if (pingRun.library)
        SetToolBoxText(toolEcho.outputBox, "looking up %s\r\n", pingRun.hostText);
    switch (StartToolHostLookup(window, pingRun.hostText, &pingRun.destination, pingRun.hostEntry,
                                &pingRun.lookup)) {
    case TOOL_HOST_RESOLVED:
        BeginPing(window);
        break;
    case TOOL_HOST_FAILED:
        TellPingHostUnknown();
        break;
    case TOOL_HOST_LOOKING_UP:
        break;
    }
}

static void EndPingWindow(HWND window) {
    DestroyWindow(window); // WM_DESTROY ends the run
}

static INT_PTR PingDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    toolEcho.outputBox = GetDlgItem(window, TOOL_RESULTS_EDIT); // this window's lines
    switch (message) {
    case WM_INITDIALOG:
        InitPingWindow(window);
        return 1;
    case WM_SIZE:
        LayoutToolDialog(window);
        return 1;
    case WM_TIMER:
        OnPingTimer(window, wParam);
        return 1;
    case WM_TOOL_LOOKUP_DONE:
        OnPingLookupDone(window, wParam, lParam);
        return 1;
    case WM_TOOL_ECHO_DONE:
        OnLibraryEchoDone(window, wParam);
        return 1;
    case WM_TOOL_SOCKET:
        OnPingSocket(window, wParam);
        return 1;
    case WM_PING_DONE:
        if (pingRun.rawActive && wParam == pingRun.number)
            FinishRawPing();
        return 1;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL)
            EndPingWindow(window); // Escape and the close box
        else
            OnToolCommand(window, wParam, OnPingButton, EndPingWindow);
        return 1;
    case WM_DESTROY:
        toolEcho.outputBox = 0; // the box is going: the run ends silently
        AbandonPing(window);
        pingRun.window = 0;
        return 0;
    default:
        return AnswerDialogColor(message, wParam);
    }
}

/*** entry point ***/

int ShowPingTool(HWND owner, const char* host) {
    std::snprintf(pingRun.hostText, sizeof pingRun.hostText, "%s", host != nullptr ? host : "");
    if (pingRun.window != 0 && host != nullptr) {
        SetDlgItemText(pingRun.window, TOOL_HOST_EDIT, pingRun.hostText);
        PostStartClick(pingRun.window);
    }
    return OpenToolWindow(owner, "DLG_TRACEROUTE", PingDialogProc, &pingRun.window) ? 1 : 0;
}
