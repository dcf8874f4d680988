// The monitor without a window on screen, for a server: the map's poll cycles with its log,
// sounds, alarm programs and pages as on the desktop, and one line per cycle on standard
// output. A termination signal ends it at once, cutting the check or page under way.
#pragma once

// Loads the map named by `mapArgument` (empty: the default map) and runs `cycles` poll
// cycles back to back, or, when `cycles` is 0, one every TIMER seconds (whatever NOCHECK
// says) until SIGINT, SIGTERM or SIGHUP. Needs the toolkit started without a display.
// Returns the exit status: 0 after the last cycle or a signal, 1 when the map cannot be used.
int RunHeadless(const char* mapArgument, unsigned long cycles);
