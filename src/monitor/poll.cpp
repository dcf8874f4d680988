// The countdown, and the cycle that checks every host in table order, hands each outcome
// to the alarms, and dispatches the queued messages between hosts so the windows live.
#include "monitor/poll.h"

#include "model/hosts.h"
#include "model/mapdb.h"
#include "model/settings.h"
#include "monitor/alarms.h"
#include "monitor/mapwnd.h"
#include "monitor/probe.h"
#include "platform/signals.h"
#include "platform/window.h"
#include "platform/winsock.h"

#include <cstdio>
#include <cstring>

using namespace platform;

/*** globals ***/

PollState pollState = {0, 0, 0, 10, 0, 0, nullptr};
MonitorReports monitorReports = {nullptr, nullptr, nullptr};

/*** the windows above ***/

void ReportStatus(const char* text) {
    if (monitorReports.statusText != nullptr)
        monitorReports.statusText(text);
}

static void ReportCountdown() {
    if (monitorReports.countdown != nullptr)
        monitorReports.countdown();
}

static bool MapBeingEdited() {
    return monitorReports.editing != nullptr && monitorReports.editing();
}

/*** the countdown ***/

void StartPollTimer() {
    if (!MapBeingEdited() && options.noAutomaticChecks == 0)
        pollState.timerActive = SetTimer(mainWindow, POLL_TIMER_ID, 1000, nullptr) != 0 ? 1 : 0;
    else
        pollState.timerActive = 0;
}

void StopPollTimer() {
    if (pollState.timerActive && KillTimer(mainWindow, POLL_TIMER_ID))
        pollState.timerActive = 0;
}

void OnPollTick(HWND window) {
    int previous = pollState.countdown--;
    if (previous > 0) {
        if (options.showTimerInTitle == 1 && pollState.countdown != 0)
            SetMapTitle(static_cast<unsigned>(pollState.countdown), nullptr);
        ReportCountdown();
        return;
    }
    StopPollTimer();
    if (pollState.inProgress)
        return;
    pollState.countdown = options.pollInterval;
    SetMapTitle(0, "(polling)");
    RunPollCycle(window);
    SetMapTitle(0, nullptr);
    UpdateWindow(window);
    StartPollTimer();
}

void OnWaitTimeout(HWND window) {
    KillTimer(window, WAIT_TIMER_ID);
    if (WSAIsBlocking())
        WSACancelBlockingCall();
}

int PumpPendingMessages() {
    MSG message;
    while (PeekMessage(&message, 0, 0, 0, PM_NOREMOVE)) {
        if (message.message == WM_QUIT)
            return 0;
        GetMessage(&message, 0, 0, 0);
        TranslateMessage(&message);
        DispatchMessage(&message);
    }
    return 1;
}

/*** the cycle ***/

static bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Looks a host's name up; a failure leaves status 11001.
static void ResolveHost(HostRecord& host) {
    char text[96];
    std::snprintf(text, sizeof text, " check in progress - %s (%s)", host.name, "resolving");
    ReportStatus(text);
    hostent* entry = gethostbyname(host.address);
    if (entry != nullptr && entry->h_addr_list[0] != nullptr) {
        in_addr address;
        std::memcpy(&address, entry->h_addr_list[0], sizeof address);
        if (address.s_addr != 0) {
            CopyField(host.resolvedAddr, sizeof host.resolvedAddr, inet_ntoa(address));
            return;
        }
    }
    host.status = STATUS_NAME_NOT_RESOLVED;
}

static const char* EngineLabel() {
    if (rawIcmpUsed)
        return "rs_icmp";
    return options.useIcmpLibrary == 1 ? "ms_icmp" : "tcp";
}

// The program is ending (a termination signal, or the window closing): the check under
// way was cut short, and no further one begins.
static bool CycleCut() {
    return pollState.closeRequested != 0 || TerminationRequested();
}

// Resolves and probes one host and hands the outcome to the alarms. A check that the end
// of the program cut short counts neither as a reply nor as a failure.
static void CheckHost(HWND window, HWND repaintWindow, int index) {
    HostRecord& host = hostTable[index];
    if (!HostIsChecked(host))
        return;
    if (!IsDigit(host.resolvedAddr[0]))
        ResolveHost(host);
    int outcome = STATUS_NAME_NOT_RESOLVED;
    if (IsDigit(host.resolvedAddr[0])) {
        char text[128];
        std::snprintf(text, sizeof text, " check in progress - %s [%s] (%s)", host.name,
                      host.resolvedAddr, EngineLabel());
        ReportStatus(text);
        outcome = ProbeHost(window, host);
    }
    if (CycleCut())
        return;
    ++pollState.hostsChecked;
    // The editor stays usable while a probe waits; a host deleted meanwhile from the end of
    // the table has no record left to count the outcome against.
    if (index >= hostCount)
        return;
    if (outcome != 0) {
        RecordFailure(index);
        InvalidateHost(repaintWindow, host);
        return;
    }
    bool endedMisses = host.missed != 0;
    RecordReply(index);
    if (endedMisses)
        InvalidateHost(repaintWindow, host);
}

int RunPollCycle(HWND window) {
    pollState.inProgress = 1;
    pollState.abortRequested = 0;
    pollState.closeRequested = 0;
    pollState.hostsChecked = 0;
    BeginAlarmCycle();
    ReportStatus(" check in progress");
    EnableWindow(checkButton, false);
    HCURSOR previous = SetCursor(busyCursor);
    cursorState = 1;
    HWND repaintWindow = IsIconic(window) ? window : mapWindow;

    for (int i = 0; i < hostCount; ++i) {
        if (pollState.abortRequested || CycleCut())
            break;
        CheckHost(window, repaintWindow, i);
        UpdateWindow(repaintWindow);
        if (PumpPendingMessages() == 0)
            break;
    }

    cursorState = 0;
    SetCursor(previous);
    EnableWindow(checkButton, true);
    pollState.inProgress = 0;
    FinishAlarmCycle();
    // The ICMP notice is told once, at the end of the cycle that made it: in the message
    // pane, which the next text replaces, and where it stays until it is read.
    ReportStatus(icmpNotice.unshown ? icmpNotice.text : nullptr);
    if (icmpNotice.unshown != 0) {
        icmpNotice.unshown = 0;
        if (icmpNotice.report != nullptr)
            icmpNotice.report(icmpNotice.text);
    }
    if (void (*action)() = pollState.atCycleEnd; action != nullptr) {
        pollState.atCycleEnd = nullptr;
        action();
    }
    return 1;
}
