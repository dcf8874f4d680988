// Termination signals (SIGTERM, SIGINT, SIGHUP) turned into a window message, so the
// program ends through its normal close path.
#pragma once

#include "platform/types.h"

namespace platform {

// From now on a termination signal posts `message` to `window`. Calling it again
// re-targets the signals.
void PostMessageOnTermination(HWND window, UINT message);

// True once a termination signal has arrived (for loops without windows).
bool TerminationRequested();

} // namespace platform
