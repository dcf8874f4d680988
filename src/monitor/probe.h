// The checks of a poll cycle: the engine the settings choose (a raw-socket ICMP echo, an
// echo through the system ICMP library, or a TCP connection attempt to PORT) and the
// probe set it runs in, and what an outcome means for a host.
#pragma once

#include "model/hosts.h"
#include "platform/probeset.h"
#include "platform/types.h"
#include "platform/winsock.h"

// Set once a probe of this run has used the raw-socket engine.
extern int rawIcmpUsed;

constexpr unsigned ICMP_NOTICE_LENGTH = 511;

// What the administrator can do when the system refuses us every ICMP engine that the
// settings ask for: made and logged the first time a cycle falls back to TCP for that
// reason, once a run; the poll cycle tells it at its end.
struct IcmpNotice {
    char text[ICMP_NOTICE_LENGTH + 1]; // empty until it is made
    // Set with the text; the poll cycle shows the text in the status bar, hands it to
    // `report` and clears this.
    int unshown;
    // Where the notice stays until it is read (a message box; headless: standard error);
    // may be null.
    void (*report)(const char* text);
};
extern IcmpNotice icmpNotice;

enum CheckEngine { ENGINE_RAW, ENGINE_LIBRARY, ENGINE_TCP };

// The probe set of one cycle, its outcomes told to `window` with `message`, room made for
// `hosts` echoes at once: raw echoes for PING=1 when a raw socket opens, else library
// echoes for MSICMP=1 when the library can echo, else TCP connects (PING is then cleared,
// and the notice made when the system refused ICMP). `*engine` says which. The set may
// be INVALID_HANDLE_VALUE when not even that could be made: every check then fails.
platform::HANDLE OpenCheckProbes(platform::HWND window, platform::UINT message, unsigned hosts,
                                 CheckEngine* engine);

// "rs_icmp", "ms_icmp" or "tcp", as the status bar names the engine.
const char* EngineLabel(CheckEngine engine);

// Starts the check of `destination` (a sockaddr_in or sockaddr_in6 of `length` bytes; a
// connect goes to PORT) under `key`, bounded by WAIT. False with GetLastError() as the
// probe set says when it could not be started.
bool StartCheckProbe(platform::HANDLE set, CheckEngine engine, platform::DWORD key,
                     platform::sockaddr_storage destination, int length);

// The status a check that was cut short leaves: the engine's time-out.
platform::DWORD CutCheckStatus(CheckEngine engine);

// Writes a check's outcome into the host's status and round trip: 0 when it answered,
// non-zero when the check failed.
int TakeCheckOutcome(CheckEngine engine, const platform::PROBE_OUTCOME& outcome, HostRecord& host);
