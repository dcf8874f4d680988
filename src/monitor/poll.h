// The poll cycle: the one-second countdown, and the cycle that checks every host in
// table order, hands each outcome to the alarms and keeps the windows alive in between.
#pragma once

#include "platform/types.h"

constexpr unsigned POLL_TIMER_ID = 20; // the countdown, every second
constexpr unsigned WAIT_TIMER_ID = 10; // cuts off a probe's blocking wait

extern int pollInProgress;  // 1 while RunPollCycle runs
extern int abortRequested;  // set by "abort"; checked before each host
extern int closeRequested;  // set while the program closes; checked before each host
extern int countdown;       // seconds to the next automatic cycle
extern int pollTimerActive; // 1 while the countdown timer runs
extern int hostsChecked;    // monitored hosts visited by the running or the last cycle
// Run once at the end of the cycle under way, then forgotten; null for none. The options
// dialog uses it to hold back settings changed during a cycle.
extern void (*atEndOfPollCycle)();

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
