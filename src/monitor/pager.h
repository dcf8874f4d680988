// The pager: a numeric page dialled through a modem on a serial port at the end of a
// poll cycle. Results and errors go to the status bar and the map's log.
#pragma once

// Longest wait for the modem's answer, in seconds.
extern unsigned pageWaitSeconds; // 60

// Dials `number` and keys in `message` by the BEEP_STRING template and returns; the modem's
// answer is read as it comes, while the program goes on: BUSY, NO CARRIER, NO DIALTONE
// (NO DIAL TONE), NO ANSWER, ERROR or a line that hangs up log "beeper message M to N
// failed: WORD", any other answer the success line, no answer within pageWaitSeconds "no
// answer from modem ...". A page asked for while another is under way is dialled after it.
// Returns 1 when the page was dialled or queued, 0 when paging is off, the program is
// ending, or the port could not be opened or set.
int SendPage(const char* number, const char* message);

// True from a dial until its outcome is logged.
bool PageUnderWay();
// Ends the page under way, logged "... cancelled", and drops those waiting (the program
// is ending).
void CancelPages();

// BEEP_STRING with its first "%s" replaced by `number` and its second by `message`, and
// a carriage return; any other "%" stays as it is. Cut to `size`.
void ComposeDialCommand(char* buffer, unsigned size, const char* number, const char* message);
