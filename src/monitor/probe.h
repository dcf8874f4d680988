// Checking one host: a raw-socket ICMP echo, an echo through the system ICMP library, or
// a TCP connection attempt to PORT, chosen by the settings.
#pragma once

#include "model/hosts.h"
#include "platform/types.h"

// Set once a probe of this run has used the raw-socket engine.
extern int rawIcmpUsed;

// Checks `host`; 0 when it answered, non-zero when the check failed. The result code is
// left in the host's status (not for a host that is not monitored). `window` is the main
// window, which owns the time-out timer.
int ProbeHost(platform::HWND window, HostRecord& host);
