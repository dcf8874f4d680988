// Inside the layer: the waits that a termination signal cuts short, so that no probe,
// look-up or modem holds the program's end up.
#pragma once

namespace platform {

// Waits like poll() on one descriptor for `events`, at most `timeoutMs` (negative: no
// limit), but returns -1 with errno ECANCELED as soon as a termination signal has arrived,
// before the wait or during it. Otherwise poll()'s result, with the events seen in
// `*seen`; an interrupted wait is not retried.
int WaitUnlessTerminated(int descriptor, short events, int timeoutMs, short* seen);

} // namespace platform
