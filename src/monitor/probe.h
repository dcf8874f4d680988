// Checking one host: a raw-socket ICMP echo, an echo through the system ICMP library, or
// a TCP connection attempt to PORT, chosen by the settings.
#pragma once

#include "model/hosts.h"
#include "platform/types.h"

// Set once a probe of this run has used the raw-socket engine.
extern int rawIcmpUsed;

constexpr unsigned ICMP_NOTICE_LENGTH = 511;

// What the administrator can do when the system refuses us every ICMP engine that the
// settings ask for: made and logged the first time a probe falls back to TCP for that
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

// Checks `host`; 0 when it answered, non-zero when the check failed. The result code is
// left in the host's status (not for a host that is not monitored). `window` is the main
// window, which owns the time-out timer.
int ProbeHost(platform::HWND window, HostRecord& host);
