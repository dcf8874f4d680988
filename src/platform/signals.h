// Termination signals (SIGTERM, SIGINT, SIGHUP) turned into a window message, so the
// program ends through its normal close path; and the waits of the layer that a
// termination signal cuts short, so that no probe, look-up or modem holds the end up.
#pragma once

#include "platform/types.h"

namespace platform {

// From now on termination signals no longer end the process; they are noted and, once a
// target is set, delivered to it.
void CatchTerminationSignals();

// A termination signal posts `message` to `window` (at once when one came before).
// Calling it again re-targets the signals. Catches them if that was not done yet.
void PostMessageOnTermination(HWND window, UINT message);

// True once a termination signal has arrived (for loops without windows).
bool TerminationRequested();

// ---- Inside the layer ----

// Waits like poll() on one descriptor for `events`, at most `timeoutMs` (negative: no
// limit), but returns -1 with errno ECANCELED as soon as a termination signal has arrived,
// before the wait or during it. Otherwise poll()'s result, with the events seen in
// `*seen`; an interrupted wait is not retried.
int WaitUnlessTerminated(int descriptor, short events, int timeoutMs, short* seen);

} // namespace platform
