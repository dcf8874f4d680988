// Starting outside programs: telnet and FTP clients, connect commands, alarm programs.
// A command line is split into words (double quotes group words, nothing else is special)
// and started directly; no shell ever sees it.
#pragma once

#include "platform/system.h"
#include "platform/types.h"

namespace platform {

// Starts the program named by the first word with the other words as its arguments,
// searched on PATH. Returns a value above 31 when it was started, otherwise an error
// number (0 for an empty command or no resources). The child is reaped when it ends.
UINT WinExec(const char* commandLine, UINT showState);

// Splits a command line the way WinExec does; exposed for the callers that show it.
// Writes at most `maxWords` pointers into `words`, each pointing into `storage` (at least
// as long as the command line plus one). Returns the number of words.
int SplitCommandLine(const char* commandLine, char* storage, char** words, int maxWords);

} // namespace platform
