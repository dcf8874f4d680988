// The pager: a numeric page dialled through a modem on a serial port at the end of a
// poll cycle. Results and errors go to the status bar and the map's log.
#pragma once

// Longest wait for the modem's answer, in seconds.
extern unsigned pageWaitSeconds; // 60

// Dials `number` and keys in `message` by the BEEP_STRING template, then reads the modem's
// answer: BUSY, NO CARRIER, NO DIALTONE (NO DIAL TONE), NO ANSWER, ERROR or a line that
// hangs up log "beeper message M to N failed: WORD", a termination signal "... cancelled",
// any other answer the success line. Returns 1 when the exchange was carried out, 0 when
// paging is off, the program is ending, or the port could not be opened or set.
int SendPage(const char* number, const char* message);

// BEEP_STRING with its first "%s" replaced by `number` and its second by `message`, and
// a carriage return; any other "%" stays as it is. Cut to `size`.
void ComposeDialCommand(char* buffer, unsigned size, const char* number, const char* message);
