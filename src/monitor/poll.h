// The poll cycle: the one-second countdown, and the cycle that checks every host with
// many checks in flight and evaluates them in table order, handing each outcome to the
// alarms. A cycle runs on the messages of its window; nothing in it waits.
#pragma once

#include "platform/messages.h"
#include "platform/types.h"

constexpr unsigned POLL_TIMER_ID = 20; // the countdown, every second
constexpr unsigned PACE_TIMER_ID = 22; // the pace of a cycle's requests

// To the cycle's window: its probe set knows outcomes (the set's message).
constexpr platform::UINT WM_POLLPROBES = platform::WM_USER + 0x140;
// Posted to the cycle's window as the cursor passes the last host: the cycle is over. Its
// handler (OnPollCycleDone) runs what the end asks of the user.
constexpr platform::UINT WM_POLLCYCLEDONE = platform::WM_USER + 0x141;

// The poll cycle and its countdown.
struct PollState {
    int inProgress;     // 1 from the start of a cycle until its done message was handled
    int abortRequested; // set by Stop Check (AbortPollCycle)
    // Set while the program closes: the check under way is not counted and the cycle ends.
    int closeRequested;
    int countdown;   // seconds to the next automatic cycle
    int timerActive; // 1 while the countdown timer runs
    // Open dialogs that pause the countdown (HoldCountdown): while there is one, the end of
    // a cycle leaves the countdown stopped.
    int countdownHolds;
    // Monitored hosts evaluated by the running or the last cycle; a check cut short by the
    // program's end is not counted.
    int hostsChecked;
    // Run once at the end of the cycle under way, then forgotten; null for none. The
    // options dialog uses it to hold back settings changed during a cycle.
    void (*atCycleEnd)();
    unsigned long cyclesDone; // done messages handled in the run
    int endedEarly;           // the last cycle ended before every host was evaluated
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
// Host Information, Preferences, Tool Options, Colors, the file dialogs and the save
// question pause the countdown while they are open, also when a cycle ends meanwhile.
// Holds nest; the last release starts the countdown again unless a cycle runs.
void HoldCountdown();
void ReleaseCountdown();

// The countdown's tick (timer POLL_TIMER_ID): a cycle when it has run out.
void OnPollTick(platform::HWND window);

// Starts a cycle over the host table and returns; `window` gets its messages and its
// done message. Nothing when a cycle is under way. False when none was started.
bool RunPollCycle(platform::HWND window);
// A cycle of the desktop: the countdown stops, the title says "(polling)", and both come
// back as the cycle ends.
bool RunCountedPollCycle(platform::HWND window);

// What advances a cycle: its probe set's message, its pacing timer (PACE_TIMER_ID), and
// its done message.
void OnPollProbes(platform::HWND window);
void OnPollPace(platform::HWND window);
void OnPollCycleDone(platform::HWND window);

// Stop Check: the host the cycle waits on counts once as failed, the later outcomes are
// dropped, and the cycle ends at once.
void AbortPollCycle();
// Ends a cycle under way without counting the checks that are still open (the program
// closing, or another map taking the table's place).
void EndPollCycle();
