// The ping tool. Order: globals, the helpers shared with the traceroute dialog (layout,
// font, resolving), library mode, raw mode, the dialog procedure and the entry point.
// A raw run lives between StartRawPing and FinishRawPing: its socket, its tick on the
// dialog and the run statistics of the echo engine belong to it.
#include "tools/ping.h"

#include "icmp/icmplib.h"
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

#include <cstdarg>
#include <cstdio>
#include <cstring>

using platform::AF_INET;
using platform::BN_CLICKED;
using platform::DWORD;
using platform::EM_SETSEL;
using platform::HANDLE;
using platform::HWND;
using platform::ICMP_ECHO_REPLY;
using platform::in_addr;
using platform::INT_PTR;
using platform::INVALID_HANDLE_VALUE;
using platform::INVALID_SOCKET;
using platform::LPARAM;
using platform::RECT;
using platform::sockaddr_in;
using platform::SOCKET;
using platform::UINT;
using platform::UINT_PTR;
using platform::WPARAM;

/*** globals ***/

PingRun pingRun = {"", {}, INVALID_SOCKET, 0, 0, 0, {}, {}, {}};
int (*toolOptionsDialog)(HWND owner) = nullptr;

static constexpr unsigned LINE_SIZE = 512;
static constexpr DWORD LIBRARY_MIN_START = 999999;

/*** helpers ***/

void PrintToolLine(const char* format, ...) {
    char line[LINE_SIZE];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    AppendToolLine(toolEcho.outputBox, line);
}

void SetToolBoxText(HWND box, const char* format, ...) {
    char text[LINE_SIZE];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    platform::SetWindowText(box, text);
}

void PostStartClick(HWND dialog) {
    platform::PostMessage(dialog, platform::WM_COMMAND,
                          platform::MAKEWPARAM(TOOL_START_BUTTON, BN_CLICKED),
                          static_cast<LPARAM>(platform::GetDlgItem(dialog, TOOL_START_BUTTON)));
}

void OnToolCommand(HWND dialog, WPARAM wParam, void (*start)(HWND), void (*end)(HWND)) {
    switch (platform::LOWORD(wParam)) {
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
    platform::GetDlgItemText(dialog, TOOL_HOST_EDIT, hostText,
                             static_cast<int>(ECHO_HOST_LENGTH + 1));
    platform::SendDlgItemMessage(dialog, TOOL_HOST_EDIT, EM_SETSEL, 0, -1);
}

static RECT ItemRect(HWND dialog, HWND item) {
    RECT rect{};
    platform::GetWindowRect(item, &rect);
    platform::POINT topLeft{rect.left, rect.top};
    platform::POINT bottomRight{rect.right, rect.bottom};
    platform::ScreenToClient(dialog, &topLeft);
    platform::ScreenToClient(dialog, &bottomRight);
    return RECT{topLeft.x, topLeft.y, bottomRight.x, bottomRight.y};
}

static int AtLeastZero(int value) {
    return value < 0 ? 0 : value;
}

void LayoutToolDialog(HWND dialog) {
    HWND hostBox = platform::GetDlgItem(dialog, TOOL_HOST_EDIT);
    HWND resultsBox = platform::GetDlgItem(dialog, TOOL_RESULTS_EDIT);
    HWND exitButton = platform::GetDlgItem(dialog, TOOL_EXIT_BUTTON);
    HWND startButton = platform::GetDlgItem(dialog, TOOL_START_BUTTON);
    HWND optionsButton = platform::GetDlgItem(dialog, TOOL_OPTIONS_BUTTON);
    if (hostBox == 0 || resultsBox == 0 || exitButton == 0 || startButton == 0 ||
        optionsButton == 0)
        return; // a size change while the dialog is still being built
    RECT client{};
    platform::GetClientRect(dialog, &client);
    RECT host = ItemRect(dialog, hostBox);
    RECT results = ItemRect(dialog, resultsBox);
    RECT exit = ItemRect(dialog, exitButton);
    int margin = host.left;
    int resultsMargin = results.left;
    int width = exit.right - exit.left;
    int height = exit.bottom - exit.top;
    int x = client.right - width - margin;
    platform::MoveWindow(exitButton, x, 2, width, height, true);
    platform::MoveWindow(startButton, x, 2 + height + 2, width, height, true);
    platform::MoveWindow(optionsButton, x, 2 + 2 * (height + 2), width, height, true);
    platform::MoveWindow(hostBox, host.left, host.top, AtLeastZero(x - 2 * margin),
                         host.bottom - host.top, true);
    platform::MoveWindow(resultsBox, results.left, results.top,
                         AtLeastZero(client.right - 2 * resultsMargin),
                         AtLeastZero(client.bottom - results.top - resultsMargin), true);
}

void ApplyToolFont(HWND dialog) {
    if (!fixedFontTools)
        return;
    platform::SendDlgItemMessage(
        dialog, TOOL_RESULTS_EDIT, platform::WM_SETFONT,
        reinterpret_cast<WPARAM>(platform::GetStockObject(platform::ANSI_FIXED_FONT)), 0);
}

bool ResolveToolHost(const char* host, sockaddr_in* destination) {
    *destination = sockaddr_in{};
    destination->sin_family = AF_INET;
    std::uint32_t address = platform::inet_addr(host);
    if (address != platform::INADDR_NONE) {
        destination->sin_addr.s_addr = address;
        return true;
    }
    if (host[0] == '\0')
        return false; // nothing to look up
    platform::hostent* entry = platform::gethostbyname(host);
    if (entry == nullptr || entry->h_length != 4 || entry->h_addr_list == nullptr ||
        entry->h_addr_list[0] == nullptr)
        return false;
    std::memcpy(&destination->sin_addr.s_addr, entry->h_addr_list[0], 4);
    return true;
}

const char* DottedAddress(std::uint32_t address) {
    in_addr value{};
    value.s_addr = address;
    return platform::inet_ntoa(value);
}

/*** library mode ***/

void StartLibraryPing(HWND dialog, const char* host, HWND resultsBox) {
    SetToolBoxText(resultsBox, "looking up %s\r\n", host);
    pingRun.callInProgress = 1;
    bool resolved = ResolveToolHost(host, &pingRun.destination);
    pingRun.callInProgress = 0;
    if (!resolved) {
        SetToolBoxText(resultsBox, "Failed to resolve name %s\r\n", host);
        return;
    }
    platform::SetWindowText(resultsBox, " ");
    PrintToolLine("Pinging host %s [%s]\r\n", host,
                  DottedAddress(pingRun.destination.sin_addr.s_addr));
    PingWithLibrary(dialog, &pingRun.destination);
}

void PingWithLibrary(HWND, const sockaddr_in* destination) {
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
    unsigned transmitted = 0;
    unsigned received = 0;
    DWORD minimum = LIBRARY_MIN_START;
    DWORD maximum = 0;
    DWORD sum = 0;
    char status[ICMP_STATUS_TEXT_SIZE];
    char time[ROUND_TRIP_TEXT_SIZE];
    for (unsigned request = 0; request < toolOptions.pingCount; ++request) {
        ++transmitted;
        DWORD records =
            platform::IcmpSendEcho(handle, destination->sin_addr.s_addr, data,
                                   static_cast<platform::WORD>(toolOptions.echoDataLength), nullptr,
                                   reply, EchoReplyBufferSize(), waitTimeout);
        if (records == 0) {
            AppendToolLine(toolEcho.outputBox, IcmpStatusText(platform::GetLastError(), status));
            continue;
        }
        const auto* record = static_cast<const ICMP_ECHO_REPLY*>(reply);
        if (record->Status == platform::IP_SUCCESS) {
            // Only an echo reply is a packet received: a router's error about the request
            // is printed, but the request still counts as lost.
            ++received;
            if (record->RoundTripTime > maximum)
                maximum = record->RoundTripTime;
            if (record->RoundTripTime < minimum)
                minimum = record->RoundTripTime;
            sum += record->RoundTripTime;
            PrintToolLine("%d bytes from %s: time=%s ms", record->DataSize,
                          DottedAddress(record->Address),
                          RoundTripText(record->RoundTripTime, time));
        } else {
            PrintToolLine("%s from %s: time=%s ms", IcmpStatusText(record->Status, status),
                          DottedAddress(record->Address),
                          RoundTripText(record->RoundTripTime, time));
        }
        PrintEchoReplyDebug(record);
    }
    platform::IcmpCloseHandle(handle);
    AppendToolLine(toolEcho.outputBox, "---");
    if (transmitted > 0 && received > 0)
        PrintToolLine("%u transmitted, %u received, %u%% packet loss", transmitted, received,
                      static_cast<unsigned>(static_cast<int>(transmitted - received) * 100 /
                                            static_cast<int>(transmitted)));
    else
        PrintToolLine("%u transmitted, %u received, 100%% packet loss", transmitted, received);
    if (received == 0) {
        PrintToolLine("round trip (ms) min/max/avg = 0/0/0");
    } else {
        char shortest[ROUND_TRIP_TEXT_SIZE], longest[ROUND_TRIP_TEXT_SIZE];
        PrintToolLine("round trip (ms) min/max/avg = %s/%s/%s", RoundTripText(minimum, shortest),
                      RoundTripText(maximum, longest), RoundTripText(sum / received, time));
    }
    FreeEchoReplyBuffer(reply);
    FreeEchoData(data, allocated);
}

/*** raw mode ***/

// Ends a raw run without statistics: its tick stops and its socket is closed. Not while a
// blocking call is in progress: the socket could not be closed then, and stays for later.
static void AbandonRawPing(HWND dialog) {
    platform::KillTimer(dialog, BLOCK_SEND_TIMER_ID);
    pingRun.rawActive = 0;
    if (pingRun.socket != INVALID_SOCKET && !platform::WSAIsBlocking())
        pingRun.socket = CloseRawSocket(pingRun.socket);
}

void PrintPingHeader(const sockaddr_in* destination, unsigned dataLength) {
    AppendToolLine(toolEcho.outputBox, " ");
    PrintToolLine("PING %s (%s): %u data bytes", pingRun.hostText,
                  DottedAddress(destination->sin_addr.s_addr), dataLength);
}

void StartRawPing(HWND dialog) {
    toolEcho.stopRequested = 0;
    pingRun.callInProgress = 1;
    bool resolved = ResolveToolHost(pingRun.hostText, &pingRun.destination);
    pingRun.callInProgress = 0;
    if (!resolved) {
        PrintToolLine("can't get \"%s\" host entry.", pingRun.hostText);
        return;
    }
    SOCKET socket = platform::socket(AF_INET, platform::SOCK_RAW, platform::IPPROTO_ICMP);
    if (socket == INVALID_SOCKET) {
        PrintToolLine("can't create raw socket %s",
                      SocketErrorText(static_cast<unsigned>(platform::WSAGetLastError())));
        return;
    }
    pingRun.socket = socket;
    PrintToolLine("[%u] raw socket created", static_cast<unsigned>(socket));
    pingRun.statistics = PingStatistics{0, 0, PING_RTT_MIN_START, 0, 0};
    toolOptions.echoDataLength = BoundEchoDataLength(toolOptions.echoDataLength);
    PrintPingHeader(&pingRun.destination, toolOptions.echoDataLength);
    ++pingRun.number;
    pingRun.rawActive = 1;
    platform::SetTimer(dialog, BLOCK_SEND_TIMER_ID, BLOCK_SEND_PERIOD, nullptr);
}

// Waits for the answer to the last request sent, whose sequence is the count before it.
static void WaitForPingReply() {
    pingRun.callInProgress = 1;
    ReceivePingReply(pingRun.socket, &pingRun.destination,
                     static_cast<std::uint16_t>(pingRun.statistics.sent - 1), pingRun.reply,
                     &pingRun.statistics);
    pingRun.callInProgress = 0;
}

void OnPingTimer(HWND dialog, UINT_PTR timerId) {
    if (timerId != BLOCK_SEND_TIMER_ID) {
        platform::KillTimer(dialog, timerId);
        return;
    }
    AppendToolLine(toolEcho.outputBox, "[Timer-BLOCK_SEND] ");
    if (pingRun.statistics.sent >= 0 &&
        static_cast<unsigned>(pingRun.statistics.sent) < toolOptions.pingCount &&
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
    platform::KillTimer(dialog, BLOCK_SEND_TIMER_ID);
    if (pingRun.statistics.received != pingRun.statistics.sent)
        WaitForPingReply(); // a late reply's last chance
    platform::PostMessage(dialog, WM_PING_DONE, pingRun.number, 0);
}

void PrintPingStatistics() {
    AppendToolLine(toolEcho.outputBox, " ");
    PrintToolLine("PING Statistics for %s ", pingRun.hostText);
    if (pingRun.statistics.sent != 0 && pingRun.statistics.received != 0)
        PrintToolLine("%d packets transmitted, %d packets received, %d%% packet loss",
                      pingRun.statistics.sent, pingRun.statistics.received,
                      (pingRun.statistics.sent - pingRun.statistics.received) * 100 /
                          pingRun.statistics.sent);
    else if (pingRun.statistics.sent != 0)
        PrintToolLine("%d packets transmitted, %d packets received, 100%% packet loss",
                      pingRun.statistics.sent, pingRun.statistics.received);
    if (pingRun.statistics.received != 0) {
        char shortest[ROUND_TRIP_TEXT_SIZE], average[ROUND_TRIP_TEXT_SIZE],
            longest[ROUND_TRIP_TEXT_SIZE];
        PrintToolLine("round-trip (ms) min/avg/max = %s/%s/%s",
                      RoundTripText(pingRun.statistics.rttMin, shortest),
                      RoundTripText(pingRun.statistics.rttSum /
                                        static_cast<std::uint32_t>(pingRun.statistics.received),
                                    average),
                      RoundTripText(pingRun.statistics.rttMax, longest));
    }
}

void FinishRawPing(HWND) {
    pingRun.rawActive = 0;
    pingRun.socket = CloseRawSocket(pingRun.socket);
    PrintPingStatistics();
}

/*** the dialog ***/

static void InitPingDialog(HWND dialog) {
    toolEcho.outputBox = platform::GetDlgItem(dialog, TOOL_RESULTS_EDIT);
    toolEcho.pingIdentifier = dialog;
    toolEcho.timeoutWindow = mainWindow;
    platform::SetDlgItemText(dialog, TOOL_HOST_EDIT, pingRun.hostText);
    ApplyToolFont(dialog);
    platform::SetDlgItemText(dialog, TOOL_START_BUTTON, "&Ping");
    if (pingRun.hostText[0] != '\0')
        PostStartClick(dialog);
}

static void OnPingButton(HWND dialog) {
    TakeHostText(dialog, pingRun.hostText);
    if (pingRun.callInProgress) {
        // Pressed during a wait of the run in progress: cut the wait short and start again
        // once it has returned, since no socket can be opened or closed until then.
        if (platform::WSAIsBlocking())
            platform::WSACancelBlockingCall();
        PostStartClick(dialog);
        return;
    }
    AbandonRawPing(dialog); // a new run replaces the one in progress
    HWND resultsBox = platform::GetDlgItem(dialog, TOOL_RESULTS_EDIT);
    if (useIcmpLibrary)
        StartLibraryPing(dialog, pingRun.hostText, resultsBox);
    else if (useRawIcmp)
        StartRawPing(dialog);
    else
        AppendToolLine(toolEcho.outputBox, "Can't ping without ICMP support.");
}

static void EndPingDialog(HWND dialog) {
    platform::KillTimer(dialog, BLOCK_SEND_TIMER_ID);
    pingRun.rawActive = 0;
    toolEcho.stopRequested = 1;
    if (pingRun.callInProgress && platform::WSAIsBlocking())
        platform::WSACancelBlockingCall();
    platform::EndDialog(dialog, 0);
}

INT_PTR PingDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    (void)lParam;
    switch (message) {
    case platform::WM_INITDIALOG:
        InitPingDialog(dialog);
        return 1;
    case platform::WM_SIZE:
        LayoutToolDialog(dialog);
        return 1;
    case platform::WM_TIMER:
        OnPingTimer(dialog, wParam);
        return 1;
    case WM_PING_DONE:
        if (pingRun.rawActive && wParam == pingRun.number)
            FinishRawPing(dialog);
        return 1;
    case platform::WM_COMMAND:
        OnToolCommand(dialog, wParam, OnPingButton, EndPingDialog);
        return 1;
    default:
        return AnswerDialogColor(message, wParam);
    }
}

int ShowPingTool(HWND owner, const char* host) {
    std::snprintf(pingRun.hostText, sizeof pingRun.hostText, "%s", host != nullptr ? host : "");
    StopPollTimer();
    INT_PTR result = platform::DialogBox(owner, "DLG_TRACEROUTE", PingDialogProc);
    // The results box is gone; a run that ended with the dialog leaves no socket behind.
    toolEcho.outputBox = 0;
    pingRun.rawActive = 0;
    if (pingRun.socket != INVALID_SOCKET && !platform::WSAIsBlocking())
        pingRun.socket = CloseRawSocket(pingRun.socket);
    if (!pollInProgress)
        StartPollTimer();
    return static_cast<int>(result);
}
