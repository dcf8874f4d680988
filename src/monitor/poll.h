// The poll cycle: the one-second countdown, and the cycle that checks every host in
// table order, hands each outcome to the alarms and keeps the windows alive in between.
#pragma once

#include "icmp/waittimer.h"
#include "platform/types.h"

constexpr unsigned POLL_TIMER_ID = 20; // the countdown, every second

// The poll cycle and its countdown.
struct PollState {
    int inProgress;     // 1 while RunPollCycle runs
    int abortRequested; // set by "abort"; checked before each host
    // Set while the program closes; checked before each host and after each check, which is
    // then not counted.
    int closeRequested;
    int countdown;   // seconds to the next automatic cycle
    int timerActive; // 1 while the countdown timer runs
    // Monitored hosts checked by the running or the last cycle; a check cut short by the
    // program's end is not counted.
    int hostsChecked;
    // Run once at the end of the cycle under way, then forgotten; null for none. The
    // options dialog uses it to hold back settings changed during a cycle.
    void (*atCycleEnd)();
};
extern PollState pollState;

// What the cycle, the pager and the countdown show in the status bar, and what they ask of
// the editor, both of which sit above this folder: the shell connects them at start.
// Unset entries show nothing, and the map counts as not being edited.
struct MonitorReports {
    int (*statusText)(const char* text); // the message pane; null text: the default text
    void (*countdown)();                 // the countdown pane
    bool (*editing)();                   // true while the map is edited: no countdown runs
};
extern MonitorReports monitorReports;

// Shows `text` in the message pane (null: the default text) through monitorReports.
void ReportStatus(const char* text);

// Starts the one-second countdown when monitoring and automatic checks are on.
void StartPollTimer();
void StopPollTimer();

// The countdown's tick (timer POLL_TIMER_ID) and the probe time-out's (WAIT_TIMER_ID).
void OnPollTick(platform::HWND window);
void OnWaitTimeout(platform::HWND window);

// One complete cycle over the host table; `window` is the main window. Returns 1.
int RunPollCycle(platform::HWND window);

// Dispatches every message already queued. 0 when the next one is the quit message.
int PumpPendingMessages();
