// Termination signals (SIGTERM, SIGINT, SIGHUP) turned into a window message, so the
// program ends through its normal close path. The layer's waits that a termination signal
// cuts short are in signals_internal.h.
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

} // namespace platform
