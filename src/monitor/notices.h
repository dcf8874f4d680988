// Desktop notifications of hosts that changed: the alarms note each host declared down or
// back up as the cycle evaluates it, and the cycle's end sends one notification a host, or
// one that sums them all up when more than three changed.
#pragma once

#include "model/hosts.h"
#include "platform/gdi.h"
#include "platform/system.h"

// How a host changed in a cycle. An unreachable host (its parent is down) gets no
// notification of its own; the summing-up one names it.
enum class NoticeKind { Down, Up, Unreachable };

// More changes than this in one cycle are told in one notification.
constexpr int NOTICES_EACH_MAX = 3;

// One change, kept as the host stood when it was evaluated: the host may be edited or
// deleted before the cycle ends.
struct NoticeChange {
    NoticeKind kind;
    char name[sizeof HostRecord::name];
    char address[sizeof HostRecord::resolvedAddr];
    std::uint32_t status;           // its check's code
    std::uint32_t pictureKind;      // its HostKind
    platform::COLORREF color;       // the map's colour of it then
    platform::SYSTEMTIME evaluated; // local time
};

/*** globals ***/

// The changes of the cycle under way, in the order they were evaluated.
struct NoticeCycle {
    NoticeChange changes[MAX_HOSTS];
    int count;
};
extern NoticeCycle noticeCycle;

// The hosts told down and not yet back up, by serial. Only they are told back up: a host
// that failed behind another without being told down returns untold, and one told down
// before what it sits behind failed is told when it returns.
struct NoticesOut {
    std::uint32_t serials[MAX_HOSTS];
    int count;
};
extern NoticesOut noticesOut;

// What the shell tells this unit at start. The map colours are drawn above this folder.
struct NoticeSettings {
    bool headless;                                           // NOTIFY unset means off
    platform::COLORREF (*hostColor)(const HostRecord& host); // null: white
};
extern NoticeSettings noticeSettings;

// Whether notifications are sent, by NOTIFY and the kind of program.
bool DesktopNoticesWanted();

void BeginCycleNotices();
// Notes a change of host `index`; an Up only for a host told down.
void NoteHostChange(int index, NoticeKind kind);
// Sends the cycle's notifications; nothing waits for the desktop.
void SendCycleNotices();
