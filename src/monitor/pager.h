// The pager: a numeric page dialled through a modem on a serial port at the end of a
// poll cycle. Results and errors go to the status bar and the map's log.
#pragma once

// Longest wait for the modem's answer, in seconds: the read-back and then the line event.
extern unsigned pageWaitSeconds; // 60

// Dials `number` and keys in `message` by the BEEP_STRING template. Returns 1 when the
// exchange was carried out, 0 when paging is off or the port could not be opened or set.
int SendPage(const char* number, const char* message);

// BEEP_STRING with its first "%s" replaced by `number` and its second by `message`, and
// a carriage return; any other "%" stays as it is. Cut to `size`.
void ComposeDialCommand(char* buffer, unsigned size, const char* number, const char* message);
